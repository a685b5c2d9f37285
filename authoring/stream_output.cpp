#include "authoring/stream_output.h"

#include <cstdio>
#include <ostream>

namespace veltrane::authoring {

std::string StampText(double dayNumber) {
  const CalendarTime time = CalendarFromDayNumber(dayNumber);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", time.year, time.month,
                time.day, time.hour, time.minute, time.second, time.millisecond);
  return text;
}

std::string OneLineText(const std::string& text) {
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
  return line;
}

bool StreamTrace::TraceLine(const std::string& text) {
  out_ << StampText(clock_.Now()) << ' ' << OneLineText(text) << '\n';
  out_.flush();
  return true;
}

void StreamMessageBox::ShowMessage(const std::string& text) {
  out_ << prefix_ << ": " << OneLineText(text) << '\n';
}

}  // namespace veltrane::authoring
