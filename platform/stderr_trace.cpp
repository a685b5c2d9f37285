#include "platform/stderr_trace.h"

#include <cstdio>
#include <cstdlib>

#include "platform/trace_priority.h"
#include "platform/visible_text.h"

namespace veltrane {

std::string TraceStampText(double dayNumber) {
  const CalendarTime time = CalendarFromDayNumber(dayNumber);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", time.year, time.month,
                time.day, time.hour, time.minute, time.second, time.millisecond);
  return text;
}

std::string OneLineText(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  for (char c : VisibleText(text)) {
    if (c == '\n')
      line += "\\n";
    else
      line += c;
  }
  return line;
}

void WriteFatalLine(const std::string& text, std::FILE* out) {
  const bool journal = WritesToJournal(fileno(out), std::getenv("JOURNAL_STREAM"));
  const std::string prefix = journal ? JournalPrefix(TracePriority::Error) : "";
  std::fprintf(out, "%sveltrane: %s\n", prefix.c_str(), OneLineText(text).c_str());
  std::fflush(out);
}

StderrTrace::StderrTrace(const Clock& clock, std::FILE* out)
    : clock_(clock),
      out_(out),
      priorities_(WritesToJournal(fileno(out), std::getenv("JOURNAL_STREAM"))) {}

bool StderrTrace::TraceLine(const std::string& text) {
  // A text with line breaks still makes one line per call: breaks are shown escaped.
  const std::string line = OneLineText(text);
  const std::string prefix = priorities_ ? JournalPrefix(TracePriorityOf(text)) : "";
  const std::string stamp = TraceStampText(clock_.Now());
  std::lock_guard lock(mutex_);
  std::fprintf(out_, "%s%s %s\n", prefix.c_str(), stamp.c_str(), line.c_str());
  std::fflush(out_);
  return true;
}

}  // namespace veltrane
