#include "admin/script_check.h"

#include <algorithm>
#include <set>

#include "engine/site_script.h"
#include "engine/step_directives.h"
#include "platform/text_lists.h"

namespace veltrane::admin {
namespace {

using Warnings = std::vector<std::string>;

// The step number of a section name "STEP<digits>" (any letter case), with
// leadingZero set for names the service never reads as steps; -1 otherwise.
int StepNumberOf(std::string_view name, bool& leadingZero) {
  leadingZero = false;
  if (name.size() < 5 || !EqualsIgnoringAsciiCase(name.substr(0, 4), "STEP")) return -1;
  const std::string_view digits = name.substr(4);
  if (digits.size() > 9 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return -1;
  leadingZero = digits.size() > 1 && digits.front() == '0';
  return std::stoi(std::string(digits));
}

std::string Quote(std::string_view text) { return "\"" + std::string(text) + "\""; }

void CheckKeys(const ScriptSection& section, const std::string& step, Warnings& warnings) {
  std::set<std::string> seen;
  for (const ScriptLine& line : section.lines) {
    if (!line.hasKey) {
      warnings.push_back(step + ": a line without '=' is ignored");
      continue;
    }
    if (!seen.insert(LowerAscii(line.key)).second)
      warnings.push_back(step + ": key '" + line.key + "' is written twice; the last value counts");
    if (const std::string_view meant = MisspelledDirective(line.key); !meant.empty()) {
      const bool field = !IsDirectiveKey(line.key);
      warnings.push_back(step + ": key '" + line.key + "' is not a directive; did you mean " +
                         std::string(meant) + "?" +
                         (field ? " (it is taken for a form field)" : ""));
    }
    if (const DirectiveInfo* directive = FindDirective(line.key);
        directive && !IsDirectiveKey(line.key))
      warnings.push_back(step + ": key '" + line.key + "' works as " + std::string(directive->key) +
                         ", but is also taken for a form field; write 'APP-' in capitals");
  }
}

void CheckIntegers(const std::vector<StepValue>& values, const std::string& step,
                   Warnings& warnings) {
  for (const DirectiveInfo& directive : StepDirectiveTable()) {
    if (directive.value != DirectiveValue::Integer) continue;
    const std::string value = FindStepValue(values, directive.key).value_or("");
    if (!value.empty() && !IsPlainScriptInteger(value))
      warnings.push_back(step + ": " + std::string(directive.key) + " '" + value +
                         "' is not a plain integer; it reads as " +
                         std::to_string(ReadScriptInteger(value)));
  }
}

// Describes what the engine does with the step, in its order of rules, and
// warns about keys that this order leaves unused.
std::string DescribeStep(const CheckedStep& checked, const StepDirectives& directives, bool last,
                         const std::string& step, Warnings& warnings) {
  const std::string& success = directives.successString;
  const std::string& unique = directives.uniqueString;
  const int wait = directives.wait;
  const int form = directives.formPosition;
  const std::string& address = directives.address;
  const std::string& pattern = directives.pattern;
  const std::string& random = directives.randomPattern;

  std::vector<std::string> unused;
  if (directives.skipable && unique.empty()) unused.push_back("APP-Skipable (no APP-UniqueString)");
  if (wait != 0 && wait != 1)
    warnings.push_back(step + ": APP-WaitForRedirect is " + std::to_string(wait) +
                       "; only 1 waits");

  std::string action;
  if (!success.empty()) {
    action = "ends the site: succeeded when the page contains " + Quote(success) + ", else failed";
    const std::pair<bool, const char*> others[] = {
        {!unique.empty(), "APP-UniqueString"},
        {wait == 1, "APP-WaitForRedirect"},
        {form >= 0, "APP-FormPos"},
        {!address.empty(), "APP-GotoLink"},
        {!pattern.empty(), "APP-SearchLinkPattern"},
        {!random.empty(), "APP-SearchRandomLinkPattern"}};
    for (const auto& [present, key] : others)
      if (present) unused.push_back(key);
  } else {
    if (!unique.empty())
      action =
          "goes on when the page contains " + Quote(unique) +
          (directives.Skip() ? " (else skips to the next step); then " : " (else fails); then ");
    // The moves in the order the engine tries them: the first that applies acts,
    // the others are unused.
    const struct {
      bool applies;
      const char* key;
      std::string words;
    } moves[] = {
        {wait == 1, "APP-WaitForRedirect",
         "waits for the next page and handles it with STEP" + std::to_string(checked.number + 1)},
        {form >= 0, "APP-FormPos", "fills form #" + std::to_string(form) + " and submits it"},
        {!address.empty(), "APP-GotoLink", "opens " + address},
        {!pattern.empty(), "APP-SearchLinkPattern",
         "opens the first link whose address holds " + Quote(pattern)},
        {!random.empty(), "APP-SearchRandomLinkPattern",
         "opens a random link whose address holds " + Quote(random)},
    };
    bool moved = false;
    for (const auto& move : moves) {
      if (!move.applies) continue;
      if (moved) {
        unused.push_back(move.key);
        continue;
      }
      action += move.words;
      moved = true;
    }
    if (!moved)
      action += last ? "ends the site as succeeded (last step)"
                     : "has nothing to do: the site fails with \"Invalid setting\"";
    if (!moved && !last && !unique.empty())
      warnings.push_back(step + ": nothing follows the check of " + Quote(unique) +
                         "; the site fails there with \"Invalid setting\"");
  }
  const bool filled = success.empty() && form >= 0 && wait != 1;
  if (!filled && !checked.fields.empty())
    warnings.push_back(step + ": fields " + CommaList(checked.fields) + " are never filled");
  if (!unused.empty())
    warnings.push_back(step + ": ignored by what the step does: " + CommaList(unused));
  const bool acts = !success.empty() || !unique.empty() || wait == 1 || form >= 0 ||
                    !address.empty() || !pattern.empty() || !random.empty();
  if (!acts && checked.fields.empty())
    warnings.push_back(step + " does nothing" +
                       (last ? "; as the last step it ends the site as succeeded"
                             : "; the site fails there with \"Invalid setting\""));
  return action;
}

std::string StepsEnd(int lastStep) {
  return lastStep == 0 ? "the script has no steps"
                       : "the steps end at STEP" + std::to_string(lastStep);
}

void CheckSections(const ParsedScript& parsed, int lastStep, Warnings& warnings) {
  std::set<std::string> seen;
  for (const ScriptSection& section : parsed.Sections()) {
    const std::string shown = "[" + section.name + "]";
    if (!seen.insert(LowerAscii(section.name)).second)
      warnings.push_back(shown + " appears more than once; only the last one is read");
    bool leadingZero = false;
    const int number = StepNumberOf(section.name, leadingZero);
    if (number < 0)
      warnings.push_back(shown + " is not a step and is ignored");
    else if (leadingZero)
      warnings.push_back(shown + " is never read: step numbers have no leading zero");
    else if (number == 0)
      warnings.push_back(shown + " is never read: steps count from 1");
    else if (number == lastStep + 1 && section.lines.empty())
      warnings.push_back(shown + " is empty, so " + StepsEnd(lastStep));
    else if (number > lastStep + 1)
      warnings.push_back(shown + " is never reached: " + StepsEnd(lastStep) + " (STEP" +
                         std::to_string(lastStep + 1) + " is missing or empty)");
  }
}

// Lines before the first section, and lines that look like a section but
// carry more after the "]" (a comment, say): the service reads those as
// ordinary lines of the section before, or drops them before the first. The
// byte-order mark is already gone.
void CheckLines(std::string_view script, Warnings& warnings) {
  bool first = true;
  for (const std::string& raw : SplitLines(script)) {
    const std::string line = TrimBlanks(raw);
    if (line.empty() || line.front() == ';') continue;
    const bool section = line.front() == '[' && line.back() == ']';
    if (first && !section) warnings.push_back("lines before the first section are ignored");
    if (!section && line.front() == '[' && line.find(']') != std::string::npos)
      warnings.push_back("'" + line +
                         "' is not a section: nothing may follow the ']' (write comments on a "
                         "line of their own, starting with ';')");
    first = false;
  }
}

}  // namespace

ScriptCheck CheckScript(std::string_view script) {
  ScriptCheck check;
  script = WithoutByteOrderMark(script);
  const ParsedScript parsed(script);
  const SiteSteps steps(parsed);
  CheckLines(script, check.warnings);
  const int lastStep = steps.Count();
  if (script.find('\0') != std::string_view::npos) check.errors.emplace_back(kNulByteError);
  if (!steps.Step(1).present) check.errors.emplace_back(kNoStepsError);

  for (int n = 1; n <= lastStep; ++n) {
    const std::string name = StepSectionName(n);
    const ScriptStep& scriptStep = steps.Step(n);
    CheckedStep step;
    step.number = n;
    for (const StepValue& value : scriptStep.values)
      step.lines.push_back(value.key + "=" + value.value);
    for (const std::string& field : scriptStep.fields)
      if (std::find(step.fields.begin(), step.fields.end(), field) == step.fields.end())
        step.fields.push_back(field);
    CheckKeys(*parsed.FindSection(name), name, check.warnings);
    CheckIntegers(scriptStep.values, name, check.warnings);
    step.action = DescribeStep(step, scriptStep.directives, n == lastStep, name, check.warnings);
    check.steps.push_back(std::move(step));
  }
  CheckSections(parsed, lastStep, check.warnings);
  return check;
}

std::string FormatScriptCheck(const ScriptCheck& check) {
  std::string text;
  for (const CheckedStep& step : check.steps) {
    text += "STEP" + std::to_string(step.number) + ": " + step.action + "\n";
    if (!step.fields.empty()) text += "  form fields: " + CommaList(step.fields) + "\n";
    for (const std::string& line : step.lines) text += "  " + line + "\n";
  }
  for (const std::string& error : check.errors) text += "error: " + error + "\n";
  for (const std::string& warning : check.warnings) text += "warning: " + warning + "\n";
  if (check.errors.empty() && check.warnings.empty()) text += "no warnings\n";
  return text;
}

}  // namespace veltrane::admin
