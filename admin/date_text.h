// Dates and times as people type and read them, turned into and out of day
// numbers (local time, days since 1899-12-30, the time of day as the fraction).
// Parsers give nullopt for anything malformed or a day the calendar lacks.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltrane::admin {

// "YYYY-MM-DD" -> the whole day number.
std::optional<int> ParseDate(std::string_view text);
// "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" -> the day number of that local time.
std::optional<double> ParseDateTime(std::string_view text);
// "HH:MM" -> that part of a day, or a decimal number of days ("0.25", "1");
// a leading "-" makes either negative ("-06:00", "-1").
std::optional<double> ParseDaysOrTime(std::string_view text);
// A day number as the service writes it into history rows, with a point or
// (under a decimal-comma locale) a comma.
std::optional<double> ParseStoredDayNumber(std::string_view text);

std::string FormatDate(int day);                // "2024-05-01"
std::string FormatDateTime(double dayNumber);   // "2024-05-01 09:30:00"
std::string FormatDateStamp(double dayNumber);  // "20240501-093000", as screenshots are named

}  // namespace veltrane::admin
