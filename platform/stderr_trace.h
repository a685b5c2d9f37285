// StderrTrace: the program's trace hook. Every progress text goes to standard
// error as one line, behind the local time, so a person (or the journal under
// systemd) can follow what every site did. Nothing is written to a file.
// Always returns true; safe from any thread.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/day_clock.h"
#include "platform/trace.h"

namespace veltrane {

class StderrTrace : public TraceSink {
 public:
  explicit StderrTrace(const Clock& clock = DefaultClock(), std::FILE* out = stderr)
      : clock_(clock), out_(out) {}
  bool TraceLine(const std::string& text) override;

 private:
  const Clock& clock_;
  std::FILE* out_;
  std::mutex mutex_;
};

}  // namespace veltrane
