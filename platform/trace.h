// The trace hook: every progress text of the job, the step engine, the guards,
// form location and the list choices goes through TraceLine. The result is
// always true and nothing depends on what a sink does with the text.
#pragma once

#include <string>
#include <vector>

namespace veltrane {

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual bool TraceLine(const std::string& text) = 0;
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
