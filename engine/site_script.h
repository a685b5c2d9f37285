// Site scripts: the ini-like step script of a site, parsed into typed steps,
// and the LoadStep and IsLastStep the engine sees. Plain text in, plain data
// out; nothing is kept between calls.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/step_directives.h"
#include "model/job_state.h"

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

// One step of a script, as LoadStep makes it current.
struct ScriptStep {
  bool present = false;             // its section holds at least one line
  std::vector<StepValue> values;    // one per keyed line, in line order, each with the
                                    // value of its key's last occurrence
  std::vector<std::string> fields;  // the keys of `values` that are no directive
                                    // (IsDirectiveKey), in order: the form controls it fills
  StepDirectives directives;        // read from `values`
};

// A script parsed once into its steps: every section named "STEP" followed by
// a number written as StepSectionName writes it (letter case ignored), the
// last of two such sections counting.
class SiteSteps {
 public:
  explicit SiteSteps(std::string_view script);
  explicit SiteSteps(const ParsedScript& parsed);

  // Step n; an absent step without lines when the script has no such section.
  const ScriptStep& Step(int n) const;
  // How many steps are present from STEP1 on without a gap.
  int Count() const;

 private:
  std::map<int, ScriptStep> steps_;
};

// "STEP" followed by n in decimal: "STEP1", "STEP12".
std::string StepSectionName(int n);

// The text without the UTF-8 byte-order mark (EF BB BF) it may start with.
std::string_view WithoutByteOrderMark(std::string_view text);

// True when section STEP1 is present (exists and holds at least one line): a
// script without it has nothing to run.
bool ScriptHasSteps(std::string_view script);

// LoadStep(n): StepValues := the values of step n of the site's script, parsed
// once (ScriptStep::values): a key written twice gives two entries, both with
// the value of its last occurrence. Empty when the section is missing.
void LoadStep(JobState& state, const SiteSteps& steps, int n);

// True when section STEP(n + 1) of the script is missing or holds no line.
bool IsLastStep(const SiteSteps& steps, int n);

}  // namespace veltrane
