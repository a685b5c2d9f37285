#include "platform/stderr_trace.h"

#include <cstdio>

namespace veltrane {

std::string TimeStampText(double dayNumber) {
  const CalendarTime time = CalendarFromDayNumber(dayNumber);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day,
                time.hour, time.minute, time.second);
  return text;
}

bool StderrTrace::TraceLine(const std::string& text) {
  // A text with line breaks still makes one line per call: breaks are shown escaped.
  std::string line;
  line.reserve(text.size());
  for (char c : text) {
    if (c == '\r')
      line += "\\r";
    else if (c == '\n')
      line += "\\n";
    else
      line += c;
  }
  const std::string stamp = TimeStampText(clock_.Now());
  std::lock_guard lock(mutex_);
  std::fprintf(out_, "%s %s\n", stamp.c_str(), line.c_str());
  std::fflush(out_);
  return true;
}

}  // namespace veltrane
