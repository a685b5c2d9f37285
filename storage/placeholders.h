// The "?" placeholders of a statement, replaced in order by what `with`
// gives for each (counted from 0); a "?" for which it gives none, and one
// inside a quoted text or name, stays as it is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltrane::sql {

template <typename With>
std::string ReplacePlaceholders(std::string_view sql, With with) {
  std::string replaced;
  replaced.reserve(sql.size());
  int next = 0;
  char quote = 0;
  for (const char c : sql) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '?') {
      if (const std::optional<std::string> value = with(next)) {
        replaced += *value;
        ++next;
        continue;
      }
    }
    replaced += c;
  }
  return replaced;
}

}  // namespace veltrane::sql
