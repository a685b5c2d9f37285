// Job test support: the parts of a SubmissionJob as recording doubles over
// fresh test databases, with a browser that only records where it was sent.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "browser/loading_indicator.h"
#include "jobs/submission_job.h"
#include "platform/day_clock.h"
#include "platform/trace.h"
#include "tests/support/test_database.h"

namespace veltrane::testing {

class RecordingBrowser : public BrowserControl {
 public:
  void SetEvents(BrowserEvents*) override {}
  void Navigate(const std::string& url) override { navigations.push_back(url); }
  std::string LocationURL() const override { return navigations.empty() ? "" : navigations.back(); }
  void WatchPage(std::chrono::milliseconds least, std::chrono::milliseconds) override {
    watches.push_back(least);
  }
  std::vector<std::string> navigations;
  std::vector<std::chrono::milliseconds> watches;  // each watch's least time
};

struct JobRig {
  // `timer` hears the page timer switched on and off.
  SubmissionJobParts Parts(
      PageCapture* capture = nullptr, std::function<void(bool)> timer = [](bool) {}) {
    return SubmissionJobParts{databases.Paths(),
                              browser,
                              panel2,
                              trace,
                              clock,
                              random,
                              busy,
                              SubmissionJob::kPageDeadline,
                              std::move(timer),
                              capture};
  }
  // A page with these bytes at the address the browser was last sent to.
  Page PageWith(const std::string& source, int status = 200) const {
    Page page;
    page.location = browser.LocationURL();
    page.source = source;
    page.statusCode = status;
    return page;
  }

  TestDatabases databases;
  RecordingBrowser browser;
  RecordingLoadingIndicator panel2;
  RecordingTrace trace;
  ManualClock clock{45000.5};
  PseudoRandom random{1};
  bool busy = false;
};

}  // namespace veltrane::testing
