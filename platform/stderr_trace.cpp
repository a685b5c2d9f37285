#include "platform/stderr_trace.h"

#include <cstdio>

#include "platform/date_text.h"

namespace veltrane {

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
  const std::string stamp = DateTimeText(clock_.Now());
  std::lock_guard lock(mutex_);
  std::fprintf(out_, "%s %s\n", stamp.c_str(), line.c_str());
  std::fflush(out_);
  return true;
}

}  // namespace veltrane
