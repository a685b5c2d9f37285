// FailureShots: when a site fails, a PNG of the page as it stood is saved in
// the shots directory as "<YYYYMMDD-HHMMSS>-<site>.png" (characters outside
// A-Z, a-z, 0-9, ".", "_" and "-" in the site name become "_"), and its path
// is traced. The directory is made 0700 where missing, the file 0600; a
// symbolic link in the file's place is refused (and traced), never followed. The
// capture is asynchronous; `then` runs exactly once, when the file is
// written, when the capture failed, or when the deadline passed.
// User-interface thread only.
#pragma once

#include <webkit2/webkit2.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "browser/page_capture.h"
#include "platform/day_clock.h"
#include "platform/trace.h"

namespace veltrane {

// The file name for a shot of `site` taken at `dayNumber`.
std::string ShotFileName(double dayNumber, const std::string& site);

class FailureShots : public PageCapture {
 public:
  FailureShots(WebKitWebView* view, std::string directory, TraceSink& trace, const Clock& clock,
               std::chrono::milliseconds deadline = std::chrono::seconds(10));
  ~FailureShots() override;
  FailureShots(const FailureShots&) = delete;
  FailureShots& operator=(const FailureShots&) = delete;

  void Capture(const std::string& site, std::function<void()> then) override;

 private:
  WebKitWebView* view_;
  std::string directory_;
  TraceSink& trace_;
  const Clock& clock_;
  std::chrono::milliseconds deadline_;
  std::shared_ptr<bool> alive_;
};

}  // namespace veltrane
