#include "engine/site_script.h"

#include <climits>
#include <cstdint>

#include "platform/text_lists.h"

namespace veltrane {

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
  if (!section) return {};
  for (auto line = section->lines.rbegin(); line != section->lines.rend(); ++line)
    if (line->hasKey && EqualsIgnoringAsciiCase(line->key, key)) return line->value;
  return {};
}

std::string StepSectionName(int n) { return "STEP" + std::to_string(n); }

std::string_view WithoutByteOrderMark(std::string_view text) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  return text;
}

bool ScriptHasSteps(std::string_view script) {
  return ParsedScript(script).HasSection(StepSectionName(1));
}

std::vector<std::string> StepLines(std::string_view script, int n) {
  const ParsedScript parsed(script);
  const std::string name = StepSectionName(n);
  std::vector<std::string> lines;
  if (const ScriptSection* section = parsed.FindSection(name))
    for (const ScriptLine& line : section->lines)
      if (line.hasKey) lines.push_back(line.key + "=" + parsed.Value(name, line.key));
  return lines;
}

void LoadStep(JobState& state, int n) { state.StepValues = StepLines(state.SiteScript, n); }

bool IsLastStep(std::string_view script, int n) {
  const ParsedScript parsed(script);
  return !parsed.HasSection(StepSectionName(n + 1));
}

bool IsLastStep(const JobState& state, int n) { return IsLastStep(state.SiteScript, n); }

int ReadScriptInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  const auto at = [&text](std::size_t index) { return index < text.size() ? text[index] : '\0'; };

  std::size_t hexStart = 0;
  if (at(i) == '$' || at(i) == 'x' || at(i) == 'X')
    hexStart = i + 1;
  else if (at(i) == '0' && (at(i + 1) == 'x' || at(i + 1) == 'X'))
    hexStart = i + 2;
  if (hexStart) {
    std::uint32_t value = 0;
    for (std::size_t j = hexStart;; ++j) {
      const char c = at(j);
      int digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        break;
      value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::int32_t>(value);
  }

  bool negative = false;
  if (at(i) == '-' || at(i) == '+') negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; at(i) >= '0' && at(i) <= '9'; ++i) {
    value = value * 10 + (at(i) - '0');
    if (value > static_cast<std::int64_t>(INT_MAX) + 1)
      value = static_cast<std::int64_t>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

int FormPosition(const std::vector<std::string>& stepValues) {
  const std::string value = LookupValue(stepValues, "APP-FormPos");
  return value.empty() ? -1 : ReadScriptInteger(value);
}

int WaitForRedirectValue(const std::vector<std::string>& stepValues) {
  return ReadScriptInteger(LookupValue(stepValues, "APP-WaitForRedirect"));
}

}  // namespace veltrane
