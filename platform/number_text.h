// Numbers written as text: for SQL (always a point) and for people (the
// locale's decimal separator). Both round to 15 significant digits, drop
// trailing zeros, write no point for a whole number and no exponent for
// numbers of day-number size.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltrane {

// 45001.75 -> "45001.75", 45001.0 -> "45001", whatever the locale.
std::string SqlNumberText(double value);

// As SqlNumberText, with the decimal separator of the current C locale
// (LC_NUMERIC): "45001,75" under de_DE.
std::string LocaleNumberText(double value);

// A number as either of the above writes it, with a point or a comma:
// "45001.75" and "45001,75" -> 45001.75; nullopt for anything else.
std::optional<double> ParseNumberText(std::string_view text);

}  // namespace veltrane
