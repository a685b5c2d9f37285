#include "platform/number_text.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>

namespace veltrane {

std::string SqlNumberText(double value) {
  if (!std::isfinite(value)) return value != value ? "NaN" : (value > 0 ? "INF" : "-INF");
  char buffer[64];
  // Fixed notation with 15 significant digits, then trailing zeros trimmed.
  // to_chars is locale-independent, unlike printf.
  const int exponent =
      value == 0.0 ? 0 : static_cast<int>(std::floor(std::log10(std::fabs(value))));
  if (exponent >= 15 || exponent < -4) {
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    return error == std::errc() ? std::string(buffer, end) : std::string();
  }
  const int decimals = 14 - exponent;
  auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (error != std::errc()) return {};
  std::string text(buffer, end);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

std::string LocaleNumberText(double value) {
  std::string text = SqlNumberText(value);
  const char* separator = std::localeconv()->decimal_point;
  const std::string decimalPoint = separator && *separator ? separator : ".";
  if (const auto point = text.find('.'); point != std::string::npos)
    text.replace(point, 1, decimalPoint);
  return text;
}

std::optional<double> ParseNumberText(std::string_view text) {
  std::string pointed(text);
  for (char& c : pointed)
    if (c == ',') c = '.';
  double value = 0;
  const auto [end, error] = std::from_chars(pointed.data(), pointed.data() + pointed.size(), value);
  if (pointed.empty() || error != std::errc() || end != pointed.data() + pointed.size() ||
      !std::isfinite(value))
    return std::nullopt;
  return value;
}

}  // namespace veltrane
