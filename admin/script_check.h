// Checks a site's step script as the service will read it: the steps it runs,
// each with its key=value lines, its form fields and what it does, errors for
// what the service cannot run at all, and warnings for what is likely a
// mistake. A UTF-8 byte-order mark at the start is ignored, as the service
// ignores it. Plain text in, plain data out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrane::admin {

struct CheckedStep {
  int number = 0;
  std::string action;               // what the step does, in words
  std::vector<std::string> lines;   // its values as the step is loaded, shown as key=value
  std::vector<std::string> fields;  // keys taken for form controls
};

struct ScriptCheck {
  std::vector<CheckedStep> steps;   // STEP1 on, as far as the numbering goes
  std::vector<std::string> errors;  // the service would fail the site at once
  std::vector<std::string> warnings;
};

// The error of a script without a present STEP1 section.
inline constexpr std::string_view kNoStepsError =
    "Site script has no steps: the first step needs a [STEP1] section with at least one line";

// The error of a script holding a NUL byte. The service fails such a site at
// once: the script's text would end at the NUL, success check and all.
inline constexpr std::string_view kNulByteError = "Site script contains a NUL byte";

ScriptCheck CheckScript(std::string_view script);
// The steps, then "error: ..." and "warning: ..." lines, or "no warnings"
// when there are neither.
std::string FormatScriptCheck(const ScriptCheck& check);

// The directive a key is a slip of (edit distance, letter case ignored), or
// "" when the key looks like a form field or is a directive exactly.
std::string_view MisspelledDirective(std::string_view key);
// Whether the service reads the whole value as a number: blanks, then a sign
// and decimal digits, or "$", "x", "X", "0x", "0X" and hexadecimal digits.
bool IsPlainScriptInteger(std::string_view value);

}  // namespace veltrane::admin
