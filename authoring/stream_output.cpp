#include "authoring/stream_output.h"

#include <ostream>

#include "platform/stderr_trace.h"

namespace veltrane::authoring {

bool StreamTrace::TraceLine(const std::string& text) {
  out_ << TraceStampText(clock_.Now()) << ' ' << OneLineText(text) << '\n';
  out_.flush();
  return true;
}

void StreamMessageBox::ShowMessage(const std::string& text) {
  out_ << prefix_ << ": " << OneLineText(text) << '\n';
}

}  // namespace veltrane::authoring
