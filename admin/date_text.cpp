#include "admin/date_text.h"

#include <charconv>
#include <cmath>

#include "platform/date_text.h"
#include "platform/day_clock.h"
#include "platform/number_text.h"

namespace veltrane::admin {
namespace {

// Reads exactly `digits` decimal digits at `at`; advances `at`.
std::optional<int> Digits(std::string_view text, std::size_t& at, std::size_t digits) {
  if (at + digits > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  at += digits;
  return value;
}

bool Expect(std::string_view text, std::size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

// Checks the fields against the calendar by converting there and back.
std::optional<double> DayNumberOf(const CalendarTime& time) {
  if (time.year < 1900 || time.year > 9999 || time.month < 1 || time.month > 12 || time.day < 1 ||
      time.hour > 23 || time.minute > 59 || time.second > 59)
    return std::nullopt;
  const double day = DayNumberFromCalendar(time);
  const CalendarTime back = CalendarFromDayNumber(day);
  if (back.year != time.year || back.month != time.month || back.day != time.day)
    return std::nullopt;
  return day;
}

std::optional<CalendarTime> DatePart(std::string_view text, std::size_t& at) {
  CalendarTime time;
  const auto year = Digits(text, at, 4);
  if (!year || !Expect(text, at, '-')) return std::nullopt;
  const auto month = Digits(text, at, 2);
  if (!month || !Expect(text, at, '-')) return std::nullopt;
  const auto day = Digits(text, at, 2);
  if (!day) return std::nullopt;
  time.year = *year;
  time.month = *month;
  time.day = *day;
  return time;
}

}  // namespace

std::optional<int> ParseDate(std::string_view text) {
  std::size_t at = 0;
  const auto time = DatePart(text, at);
  if (!time || at != text.size()) return std::nullopt;
  const auto day = DayNumberOf(*time);
  if (!day) return std::nullopt;
  return static_cast<int>(*day);
}

std::optional<double> ParseDateTime(std::string_view text) {
  std::size_t at = 0;
  auto time = DatePart(text, at);
  if (!time || !Expect(text, at, ' ')) return std::nullopt;
  const auto hour = Digits(text, at, 2);
  if (!hour || !Expect(text, at, ':')) return std::nullopt;
  const auto minute = Digits(text, at, 2);
  if (!minute) return std::nullopt;
  time->hour = *hour;
  time->minute = *minute;
  if (at < text.size()) {
    const auto second = Expect(text, at, ':') ? Digits(text, at, 2) : std::nullopt;
    if (!second) return std::nullopt;
    time->second = *second;
  }
  if (at != text.size()) return std::nullopt;
  return DayNumberOf(*time);
}

std::optional<double> ParseDaysOrTime(std::string_view text) {
  const bool negative = text.starts_with('-');
  if (negative) text.remove_prefix(1);
  const double sign = negative ? -1.0 : 1.0;
  if (text.find(':') != std::string_view::npos) {
    std::size_t at = 0;
    const auto hour = Digits(text, at, 2);
    if (!hour || !Expect(text, at, ':')) return std::nullopt;
    const auto minute = Digits(text, at, 2);
    if (!minute || at != text.size() || *hour > 23 || *minute > 59) return std::nullopt;
    return sign * (*hour * 60 + *minute) / 1440.0;
  }
  double days = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), days);
  // from_chars takes a sign of its own; one "-" is all a time may carry.
  if (text.empty() || text.front() == '-' || error != std::errc() ||
      end != text.data() + text.size() || !std::isfinite(days))
    return std::nullopt;
  return sign * days;
}

std::optional<double> ParseStoredDayNumber(std::string_view text) { return ParseNumberText(text); }

std::string FormatDate(int day) { return DateText(day); }

std::string FormatDateTime(double dayNumber) { return DateTimeText(dayNumber); }

std::string FormatDateStamp(double dayNumber) { return DateStampText(dayNumber); }

}  // namespace veltrane::admin
