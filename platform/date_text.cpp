#include "platform/date_text.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/day_clock.h"

namespace veltrane {

std::string DateText(int day) {
  const CalendarTime time = CalendarFromDayNumber(day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", time.year, time.month, time.day);
  return text;
}

std::string DateTimeText(double dayNumber) {
  const CalendarTime time = CalendarFromDayNumber(dayNumber);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day,
                time.hour, time.minute, time.second);
  return text;
}

std::string DateStampText(double dayNumber) {
  const CalendarTime time = CalendarFromDayNumber(dayNumber);
  char text[48];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", time.year, time.month, time.day,
                time.hour, time.minute, time.second);
  return text;
}

std::string UtcOffsetText(int seconds) {
  const int minutes = std::abs(seconds) / 60;
  char text[16];
  std::snprintf(text, sizeof text, "UTC%c%02d:%02d", seconds < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return text;
}

int LocalUtcOffsetSeconds() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<int>(local.tm_gmtoff);
}

}  // namespace veltrane
