// RedactingTrace: the job's trace hook. Every line is passed on with the
// current site's password replaced by "***" wherever it appears: as written,
// percent-encoded (either letter case), or form-encoded (a blank as "+"), as a
// GET login form puts it into every later address. User-interface thread only.
#pragma once

#include <string>
#include <vector>

#include "platform/trace.h"

namespace veltrane {

class RedactingTrace : public TraceSink {
 public:
  explicit RedactingTrace(TraceSink& out) : out_(out) {}

  // The password to hide from now on; "" hides nothing.
  void SetSecret(const std::string& secret);
  std::string Redact(std::string text) const;
  bool TraceLine(const std::string& text) override { return out_.TraceLine(Redact(text)); }

 private:
  TraceSink& out_;
  std::vector<std::string> forms_;  // the secret's spellings, longest first
};

}  // namespace veltrane
