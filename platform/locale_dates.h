// Dates and times in the formats of the current C locale (LC_TIME), for
// people: the short date (%x), the long time (%X) and the full weekday and
// month names. Reads the global locale, so the program's setlocale(LC_ALL, "")
// decides; safe from any thread that does not change the locale meanwhile.
#pragma once

#include <string>

#include "platform/day_clock.h"

namespace veltrane {

// strftime of `format` over a calendar time ("" when the result is too long).
std::string LocaleTimeText(const char* format, const CalendarTime& time);

// The locale's short date of a day number's date: "12/30/99" in C, "30.12.1899" in de_DE.
std::string ShortDateText(double dayNumber);

// Short date, one blank and long time; the date alone when the time of day is
// 00:00:00 (milliseconds are not looked at).
std::string ShortDateLongTimeText(double dayNumber);

// Full names from the locale; weekday 0 is Sunday, month 1 is January.
std::string LongDayName(int weekday);
std::string LongMonthName(int month);

}  // namespace veltrane
