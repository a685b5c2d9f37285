// The trace hook: every progress text of the job, the step engine, the guards,
// form location and the list choices goes through TraceLine. The result is
// always true and nothing depends on what a sink does with the text. Whoever
// builds a line or a failure reason passes the parts it did not write itself
// through Outside.
#pragma once

#include <string>
#include <vector>

namespace veltrane {

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual bool TraceLine(const std::string& text) = 0;
  // Text that came from outside the service (addresses, page text, script
  // and field values, the engine's messages) as this sink lets it be shown
  // inside a trace line or a reason. A sink that hides a secret hides it
  // here, never in the service's own words around it.
  virtual std::string Outside(std::string text) const { return text; }
};

// Drops every text.
class DiscardingTrace : public TraceSink {
 public:
  bool TraceLine(const std::string&) override { return true; }
};

// Keeps every text in order; for tests.
class RecordingTrace : public TraceSink {
 public:
  bool TraceLine(const std::string& text) override {
    lines.push_back(text);
    return true;
  }
  std::vector<std::string> lines;
};

}  // namespace veltrane
