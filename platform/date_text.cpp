#include "platform/date_text.h"

#include <cstdio>

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

}  // namespace veltrane
