// Country and category choice over a drop-down list's option list:
// one text per option, its value attribute, one blank and its displayed text,
// in the list's order. Each operation gives an option index or -1. Plain data;
// no page access.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/trace.h"

namespace veltrane {

// The first entry that contains the wanted text, both lower-cased in A-Z only;
// an empty wanted text matches nothing.
int FindOption(const std::vector<std::string>& options, std::string_view wanted);

// The country, then "USA", "US" and "United States".
int ChooseCountry(const std::vector<std::string>& options, std::string_view country);

// The category, then "business", then "internet"; traces the option list and
// each fallback.
int ChooseCategory(const std::vector<std::string>& options, std::string_view category,
                   TraceSink& trace);

}  // namespace veltrane
