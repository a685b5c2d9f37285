// What the tool knows of script keys: slips of the directive names, and
// integer values the service would read only in part.
#include <algorithm>

#include "admin/script_check.h"
#include "engine/step_directives.h"
#include "platform/text_lists.h"

namespace veltrane::admin {
namespace {

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string_view MisspelledDirective(std::string_view key) {
  const std::string lower = LowerAscii(key);
  std::string_view closest;
  std::size_t best = SIZE_MAX;
  for (const DirectiveInfo& directive : StepDirectiveTable()) {
    const std::size_t distance = EditDistance(lower, LowerAscii(directive.key));
    if (distance == 0) return {};
    if (distance < best) {
      best = distance;
      closest = directive.key;
    }
  }
  // A key that says "app-" means a directive whatever it is; otherwise only a
  // near miss counts, so ordinary form field names stay quiet.
  const bool meantAsDirective =
      lower.find("app-") != std::string::npos || lower.starts_with("app_");
  const std::size_t allowed = std::max<std::size_t>(2, closest.size() / 5);
  if (best <= allowed || meantAsDirective) return closest;
  return {};
}

bool IsPlainScriptInteger(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && value[i] == ' ') ++i;
  std::string_view rest = value.substr(i);
  if (rest.starts_with("0x") || rest.starts_with("0X")) {
    rest.remove_prefix(2);
  } else if (rest.starts_with("$") || rest.starts_with("x") || rest.starts_with("X")) {
    rest.remove_prefix(1);
  } else {
    if (rest.starts_with("-") || rest.starts_with("+")) rest.remove_prefix(1);
    return !rest.empty() &&
           std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
  }
  return !rest.empty() && std::all_of(rest.begin(), rest.end(), IsHexDigit);
}

}  // namespace veltrane::admin
