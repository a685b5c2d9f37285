// Site scripts: the ini-like step script of a site, parsed afresh
// on every LoadStep and IsLastStep, and the reading of its integer values.
// Plain text in, plain data out; no state kept between calls.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "jobs/job_state.h"

namespace veltrane {

struct ScriptLine {
  bool hasKey = false;  // the line held "=" before which something was written
  std::string key;      // trimmed
  std::string value;    // trimmed; further "=" characters stay
};

struct ScriptSection {
  std::string name;               // trimmed text between the brackets
  std::vector<ScriptLine> lines;  // in order; comments and empty lines dropped
};

// A parsed script. A UTF-8 byte-order mark at the start is ignored (editors on
// Windows write one). Lines are split at CR LF, CR or LF and trimmed of bytes up
// to 32; empty lines, lines starting with ";" and lines before the first
// section are dropped. Section names and keys compare ignoring A-Z case; of
// two sections with one name only the last counts, and of two keys in one
// section the last occurrence gives the value.
class ParsedScript {
 public:
  explicit ParsedScript(std::string_view text);

  // The last section of that name, or null.
  const ScriptSection* FindSection(std::string_view name) const;
  // The section exists and holds at least one line (with or without a key).
  bool HasSection(std::string_view name) const;
  // The value of the key's last occurrence in the section; "" when none.
  std::string Value(std::string_view section, std::string_view key) const;

  const std::vector<ScriptSection>& Sections() const { return sections_; }

 private:
  std::vector<ScriptSection> sections_;
};

// "STEP" followed by n in decimal: "STEP1", "STEP12".
std::string StepSectionName(int n);

// The text without the UTF-8 byte-order mark (EF BB BF) it may start with.
std::string_view WithoutByteOrderMark(std::string_view text);

// True when section STEP1 is present (exists and holds at least one line): a
// script without it has nothing to run.
bool ScriptHasSteps(std::string_view script);

// The key=value lines of step n of a script: one per keyed line of the
// section, in line order, each with the value of its key's last occurrence.
// Empty when the section is missing.
std::vector<std::string> StepLines(std::string_view script, int n);

// LoadStep(n): StepValues := StepLines(SiteScript, n).
void LoadStep(JobState& state, int n);

// True when section STEP(n + 1) of SiteScript is missing or holds no line.
bool IsLastStep(std::string_view script, int n);
bool IsLastStep(const JobState& state, int n);

// Reads an integer value: leading blanks skipped; an optional sign and decimal
// digits, or (without a sign) hexadecimal digits after "$", "x", "X", "0x" or
// "0X"; reading stops at the first misfit and gives the number read so far
// (0 when nothing fits). Decimal values beyond 32 bits stop at the int range;
// hexadecimal ones keep their low 32 bits ("$FFFFFFFF" is -1).
int ReadScriptInteger(std::string_view text);

// APP-FormPos of the current step (first match, A-Z case ignored): -1 when the
// key is missing or its value empty, else ReadScriptInteger of the value.
int FormPosition(const std::vector<std::string>& stepValues);

// APP-WaitForRedirect of the current step: ReadScriptInteger of the value,
// 0 when missing or empty.
int WaitForRedirectValue(const std::vector<std::string>& stepValues);

}  // namespace veltrane
