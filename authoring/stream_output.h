// The trace and the message boxes of an authoring command, on its output
// streams: a site trial prints the job's trace as the service's trace reads
// (one line per text, line breaks escaped, behind the local time to the
// millisecond), and what the job would show in a message box as a line of
// its own. User-interface thread only.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>

#include "platform/day_clock.h"
#include "platform/message_box.h"
#include "platform/trace.h"

namespace veltrane::authoring {

class StreamTrace : public TraceSink {
 public:
  StreamTrace(std::ostream& out, const Clock& clock) : out_(out), clock_(clock) {}
  bool TraceLine(const std::string& text) override;

 private:
  std::ostream& out_;
  const Clock& clock_;
};

// Prints "<prefix>: <text>" on one line.
class StreamMessageBox : public MessageBox {
 public:
  StreamMessageBox(std::ostream& out, std::string prefix) : out_(out), prefix_(std::move(prefix)) {}
  void ShowMessage(const std::string& text) override;

 private:
  std::ostream& out_;
  std::string prefix_;
};

}  // namespace veltrane::authoring
