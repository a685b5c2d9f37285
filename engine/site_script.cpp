#include "engine/site_script.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "platform/text_lists.h"

namespace veltrane {
namespace {

// The value of the key's last occurrence in the section; "" when none.
std::string SectionValue(const ScriptSection& section, std::string_view key) {
  for (auto line = section.lines.rbegin(); line != section.lines.rend(); ++line)
    if (line->hasKey && EqualsIgnoringAsciiCase(line->key, key)) return line->value;
  return {};
}

// The n whose StepSectionName equals the section name with A-Z case ignored:
// "STEP", then an optional "-" and decimal digits without a leading zero (or
// the single digit 0), within the int range.
std::optional<int> StepNumberOf(std::string_view name) {
  if (name.size() < 5 || !EqualsIgnoringAsciiCase(name.substr(0, 4), "STEP")) return {};
  std::string_view digits = name.substr(4);
  const bool negative = digits.front() == '-';
  if (negative) digits.remove_prefix(1);
  if (digits.empty() || digits.size() > 10 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return {};
  if (digits.front() == '0' && (digits.size() > 1 || negative)) return {};
  std::int64_t value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  if (negative) value = -value;
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return {};
  return static_cast<int>(value);
}

ScriptStep BuildStep(const ScriptSection& section) {
  ScriptStep step;
  step.present = !section.lines.empty();
  for (const ScriptLine& line : section.lines) {
    if (!line.hasKey) continue;
    if (!IsDirectiveKey(line.key)) step.fields.push_back(line.key);
    step.values.push_back({line.key, SectionValue(section, line.key)});
  }
  step.directives = ReadDirectives(step.values);
  return step;
}

}  // namespace

ParsedScript::ParsedScript(std::string_view text) {
  for (const std::string& rawLine : SplitLines(WithoutByteOrderMark(text))) {
    const std::string line = TrimBlanks(rawLine);
    if (line.empty() || line.front() == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      sections_.push_back({TrimBlanks(std::string_view(line).substr(1, line.size() - 2)), {}});
      continue;
    }
    if (sections_.empty()) continue;  // before the first section
    ScriptLine entry;
    if (const std::size_t equals = line.find('='); equals != std::string::npos) {
      entry.key = TrimBlanks(std::string_view(line).substr(0, equals));
      entry.value = TrimBlanks(std::string_view(line).substr(equals + 1));
      entry.hasKey = !entry.key.empty();
    }
    sections_.back().lines.push_back(std::move(entry));
  }
}

const ScriptSection* ParsedScript::FindSection(std::string_view name) const {
  for (auto section = sections_.rbegin(); section != sections_.rend(); ++section)
    if (EqualsIgnoringAsciiCase(section->name, name)) return &*section;
  return nullptr;
}

bool ParsedScript::HasSection(std::string_view name) const {
  const ScriptSection* section = FindSection(name);
  return section && !section->lines.empty();
}

std::string ParsedScript::Value(std::string_view sectionName, std::string_view key) const {
  const ScriptSection* section = FindSection(sectionName);
  return section ? SectionValue(*section, key) : std::string();
}

SiteSteps::SiteSteps(std::string_view script) : SiteSteps(ParsedScript(script)) {}

SiteSteps::SiteSteps(const ParsedScript& parsed) {
  for (const ScriptSection& section : parsed.Sections())
    if (const std::optional<int> n = StepNumberOf(section.name))
      steps_.insert_or_assign(*n, BuildStep(section));  // the last section of a name counts
}

const ScriptStep& SiteSteps::Step(int n) const {
  static const ScriptStep kAbsent;
  const auto step = steps_.find(n);
  return step == steps_.end() ? kAbsent : step->second;
}

int SiteSteps::Count() const {
  int count = 0;
  while (Step(count + 1).present) ++count;
  return count;
}

std::string StepSectionName(int n) { return "STEP" + std::to_string(n); }

std::string_view WithoutByteOrderMark(std::string_view text) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  return text;
}

bool ScriptHasSteps(std::string_view script) { return SiteSteps(script).Step(1).present; }

void LoadStep(JobState& state, const SiteSteps& steps, int n) {
  state.site.StepValues = steps.Step(n).values;
}

bool IsLastStep(const SiteSteps& steps, int n) {
  // No step follows the largest number (and n + 1 would overflow).
  return n == std::numeric_limits<int>::max() || !steps.Step(n + 1).present;
}

}  // namespace veltrane
