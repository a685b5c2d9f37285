#include "platform/day_clock.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace veltrane {
namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's algorithm).
long DaysFromCivil(long year, unsigned month, unsigned day) {
  year -= month <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<long>(dayOfEra) - 719468;
}

void CivilFromDays(long days, int& year, int& month, int& day) {
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  year = static_cast<int>(static_cast<long>(yearOfEra) + era * 400 + (month <= 2));
}

// 1899-12-30 counted from 1970-01-01.
constexpr long kEpochOffset = -25569;
constexpr double kMillisecondsPerDay = 86400000.0;

}  // namespace

double DayNumberFromCalendar(const CalendarTime& time) {
  const long days =
      DaysFromCivil(time.year, static_cast<unsigned>(time.month), static_cast<unsigned>(time.day)) -
      kEpochOffset;
  const double fraction = ((time.hour * 60.0 + time.minute) * 60.0 + time.second) / 86400.0 +
                          time.millisecond / kMillisecondsPerDay;
  // Before the epoch the integer part counts backwards while the time still counts forwards.
  return days >= 0 ? days + fraction : days - fraction;
}

int WholeDate(double dayNumber) { return static_cast<int>(std::trunc(dayNumber)); }

CalendarTime CalendarFromDayNumber(double dayNumber) {
  // Work in whole milliseconds so that 0.75 gives 18:00:00.000 and not 17:59:59.999.
  const long long totalMs = std::llround(std::fabs(dayNumber) * kMillisecondsPerDay);
  long days = static_cast<long>(totalMs / static_cast<long long>(kMillisecondsPerDay));
  long long msOfDay = totalMs % static_cast<long long>(kMillisecondsPerDay);
  if (dayNumber < 0) days = -days;

  CalendarTime time;
  CivilFromDays(days + kEpochOffset, time.year, time.month, time.day);
  time.hour = static_cast<int>(msOfDay / 3600000);
  msOfDay %= 3600000;
  time.minute = static_cast<int>(msOfDay / 60000);
  msOfDay %= 60000;
  time.second = static_cast<int>(msOfDay / 1000);
  time.millisecond = static_cast<int>(msOfDay % 1000);
  // 1899-12-30 was a Saturday.
  time.weekday = static_cast<int>(((days % 7) + 7 + 6) % 7);
  return time;
}

double SystemClock::Now() const {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  CalendarTime time;
  time.year = local.tm_year + 1900;
  time.month = local.tm_mon + 1;
  time.day = local.tm_mday;
  time.hour = local.tm_hour;
  time.minute = local.tm_min;
  time.second = local.tm_sec;
  time.millisecond = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  return DayNumberFromCalendar(time);
}

const Clock& DefaultClock() {
  static const SystemClock clock;
  return clock;
}

}  // namespace veltrane
