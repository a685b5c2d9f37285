#include "engine/step_directives.h"

#include <array>
#include <climits>
#include <cstdint>

#include "platform/text_lists.h"

namespace veltrane {
namespace {

using Value = DirectiveValue;
using D = StepDirectives;

const std::array<DirectiveInfo, 14> kDirectives = {{
    {"APP-SuccessString", Value::Text, true, &D::successString},
    {"APP-UniqueString", Value::Text, true, &D::uniqueString},
    {"APP-Skipable", Value::Boolean, true, &D::skipable},
    {"APP-FormPos", Value::Integer, true, DirectiveInfo::IntegerField{&D::formPosition, -1}},
    {"APP-WaitForRedirect", Value::Integer, true, DirectiveInfo::IntegerField{&D::wait, 0}},
    {"APP-SubmitButtonValue", Value::Text, true, &D::buttonValue},
    {"APP-GotoLink", Value::Text, true, &D::address},
    {"APP-SearchLinkPattern", Value::Words, true, &D::pattern},
    {"APP-SearchRandomLinkPattern", Value::Words, true, &D::randomPattern},
    {"APP-ErrorString", Value::Text, true, &D::failureReason},
    {"APP-Url", Value::Text, false, &D::url},
    {"APP-Note", Value::Text, false, &D::note},
    {"APP-PossibleRedirectToStep", Value::Text, false, &D::possibleRedirect},
    {"APP-CredentialHosts", Value::Words, true, &D::credentialHosts},
}};

// Stores one directive's value, read from the step's values, into `step`.
void ReadInto(StepDirectives& step, const DirectiveInfo& directive,
              const std::vector<StepValue>& stepValues) {
  const std::string value = FindStepValue(stepValues, directive.key).value_or("");
  if (const auto* text = std::get_if<std::string D::*>(&directive.field)) {
    step.*(*text) = value;
  } else if (const auto* integer = std::get_if<DirectiveInfo::IntegerField>(&directive.field)) {
    step.*(integer->field) = value.empty() ? integer->whenEmpty : ReadScriptInteger(value);
  } else if (const auto* flag = std::get_if<std::optional<bool> D::*>(&directive.field)) {
    step.*(*flag) = value.empty() ? std::nullopt : std::optional(LowerAscii(value) == "true");
  }
}

}  // namespace

std::span<const DirectiveInfo> StepDirectiveTable() { return kDirectives; }

const DirectiveInfo* FindDirective(std::string_view key) {
  for (const DirectiveInfo& directive : kDirectives)
    if (EqualsIgnoringAsciiCase(directive.key, key)) return &directive;
  return nullptr;
}

bool IsDirectiveKey(std::string_view key) { return key.find("APP-") != std::string_view::npos; }

StepDirectives ReadDirectives(const std::vector<StepValue>& stepValues) {
  StepDirectives step;
  for (const DirectiveInfo& directive : kDirectives) ReadInto(step, directive, stepValues);
  return step;
}

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

}  // namespace veltrane
