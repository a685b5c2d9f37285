// The current step of a site's script as plain data: one key and value per
// keyed line of the step, in line order. The script reader fills the list once
// when a step becomes current; the form filler and the step engine look
// values up in it and never read the script's text again.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_lists.h"

namespace veltrane {

struct StepValue {
  std::string key;    // as written on its line, trimmed
  std::string value;  // the value of the key's last occurrence in the step, trimmed
  bool operator==(const StepValue&) const = default;
};

// The value of the first entry whose key equals `key` with A-Z case ignored;
// none when no entry has that key, since a present key with an empty value
// is the empty text while a missing one is nothing at all.
inline std::optional<std::string> FindStepValue(const std::vector<StepValue>& values,
                                                std::string_view key) {
  for (const StepValue& entry : values)
    if (EqualsIgnoringAsciiCase(entry.key, key)) return entry.value;
  return std::nullopt;
}

}  // namespace veltrane
