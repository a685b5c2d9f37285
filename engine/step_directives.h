// Step directives: the one table of the APP- keys a step may carry (what each
// value is, whether the engine acts on it), and a step's directives read from
// its values into typed fields. The step engine and the script check of
// veltrane-admin both read keys through this table. Plain data; no state.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model/step_value.h"

namespace veltrane {

// A step's directives. A missing key reads as an empty value.
struct StepDirectives {
  std::string successString;     // APP-SuccessString
  std::string uniqueString;      // APP-UniqueString
  std::optional<bool> skipable;  // APP-Skipable: none when empty, else == "true" (any case)
  int wait = 0;                  // APP-WaitForRedirect: 0 when empty
  int formPosition = -1;         // APP-FormPos: -1 (no form) when empty
  std::string buttonValue;       // APP-SubmitButtonValue
  std::string address;           // APP-GotoLink
  std::string pattern;           // APP-SearchLinkPattern
  std::string randomPattern;     // APP-SearchRandomLinkPattern
  std::string failureReason;     // APP-ErrorString
  std::string url;               // APP-Url, read and unused
  std::string note;              // APP-Note, read and unused
  std::string possibleRedirect;  // APP-PossibleRedirectToStep, read and unused
  std::string credentialHosts;   // APP-CredentialHosts

  bool Skip() const { return skipable.value_or(false); }
  bool operator==(const StepDirectives&) const = default;
};

enum class DirectiveValue {
  Text,
  Integer,  // ReadScriptInteger; `whenEmpty` when the value is empty
  Boolean,  // "true" in any letter case
  Words,    // words separated by blanks
};

struct DirectiveInfo {
  struct IntegerField {
    int StepDirectives::*field;
    int whenEmpty;
  };
  using Field = std::variant<std::string StepDirectives::*, IntegerField,
                             std::optional<bool> StepDirectives::*>;

  std::string_view key;  // as it should be written
  DirectiveValue value;
  bool acted;  // false: read with the step and without effect
  Field field;
};

// Every directive, in the order the script check suggests them.
std::span<const DirectiveInfo> StepDirectiveTable();

// The directive whose key equals `key` with A-Z case ignored, or null.
const DirectiveInfo* FindDirective(std::string_view key);

// Whether a key is a directive rather than a form control: it holds "APP-" as
// written. A lower-case "app-formpos" is still looked up as APP-FormPos, and
// is also taken for a control.
bool IsDirectiveKey(std::string_view key);

// The directives of a step from its values (FindStepValue: the first entry of
// a key, A-Z case ignored).
StepDirectives ReadDirectives(const std::vector<StepValue>& stepValues);

// Reads an integer value: leading blanks skipped; an optional sign and decimal
// digits, or (without a sign) hexadecimal digits after "$", "x", "X", "0x" or
// "0X"; reading stops at the first misfit and gives the number read so far
// (0 when nothing fits). Decimal values beyond 32 bits stop at the int range;
// hexadecimal ones keep their low 32 bits ("$FFFFFFFF" is -1).
int ReadScriptInteger(std::string_view text);

}  // namespace veltrane
