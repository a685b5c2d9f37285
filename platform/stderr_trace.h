// StderrTrace: the program's trace hook. Every progress text goes to standard
// error as one line, behind the local time to the millisecond, so a person (or
// the journal under systemd) can follow what every site did, page by page.
// When the stream is the one systemd connected to the journal, each line
// starts with its syslog priority ("<3>" errors, "<4>" a failed site, "<6>"
// progress; see trace_priority.h), so that `journalctl -p warning` shows the
// failures; elsewhere lines carry no prefix. Nothing is written to a file.
// Always returns true; safe from any thread.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/day_clock.h"
#include "platform/trace.h"

namespace veltrane {

// The stamp of a trace line: "YYYY-MM-DD HH:MM:SS.mmm" of a day number.
std::string TraceStampText(double dayNumber);
// The text on one line, as VisibleText shows it, LF too escaped as "\n".
std::string OneLineText(const std::string& text);

// Writes "veltrane: <text>" as one line at error, behind "<3>" when `out` is
// the journal's stream: what ends the program before it could start.
void WriteFatalLine(const std::string& text, std::FILE* out = stderr);

class StderrTrace : public TraceSink {
 public:
  // Priorities are written when $JOURNAL_STREAM names `out`.
  explicit StderrTrace(const Clock& clock = DefaultClock(), std::FILE* out = stderr);
  bool TraceLine(const std::string& text) override;
  bool WritesPriorities() const { return priorities_; }

 private:
  const Clock& clock_;
  std::FILE* out_;
  bool priorities_;
  std::mutex mutex_;
};

}  // namespace veltrane
