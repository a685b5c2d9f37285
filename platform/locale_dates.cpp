#include "platform/locale_dates.h"

#include <langinfo.h>

#include <ctime>

namespace veltrane {
namespace {

std::tm ToTm(const CalendarTime& time) {
  std::tm tm{};
  tm.tm_year = time.year - 1900;
  tm.tm_mon = time.month - 1;
  tm.tm_mday = time.day;
  tm.tm_hour = time.hour;
  tm.tm_min = time.minute;
  tm.tm_sec = time.second;
  tm.tm_wday = time.weekday;
  static constexpr int kDaysBeforeMonth[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const bool leap = (time.year % 4 == 0 && time.year % 100 != 0) || time.year % 400 == 0;
  tm.tm_yday = kDaysBeforeMonth[(time.month - 1) % 12] + time.day - 1 + (leap && time.month > 2);
  tm.tm_isdst = -1;
  return tm;
}

}  // namespace

std::string LocaleTimeText(const char* format, const CalendarTime& time) {
  const std::tm tm = ToTm(time);
  char buffer[256];
  const std::size_t length = std::strftime(buffer, sizeof buffer, format, &tm);
  return std::string(buffer, length);
}

std::string ShortDateText(double dayNumber) {
  return LocaleTimeText("%x", CalendarFromDayNumber(dayNumber));
}

std::string ShortDateLongTimeText(double dayNumber) {
  const CalendarTime time = CalendarFromDayNumber(dayNumber);
  std::string text = LocaleTimeText("%x", time);
  if (time.hour != 0 || time.minute != 0 || time.second != 0)
    text += " " + LocaleTimeText("%X", time);
  return text;
}

std::string LongDayName(int weekday) {
  static constexpr nl_item kDays[] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
  return nl_langinfo(kDays[((weekday % 7) + 7) % 7]);
}

std::string LongMonthName(int month) {
  static constexpr nl_item kMonths[] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                        MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  return nl_langinfo(kMonths[(((month - 1) % 12) + 12) % 12]);
}

}  // namespace veltrane
