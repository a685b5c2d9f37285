#include "browser/failure_shots.h"

#include <cstdio>
#include <utility>

#include "browser/png_snapshot.h"
#include "platform/date_text.h"
#include "platform/paths.h"
#include "platform/private_files.h"
#include "platform/trace_priority.h"

namespace veltrane {

std::string ShotFileName(double dayNumber, const std::string& site) {
  return DateStampText(dayNumber) + "-" + FileNameSafe(site) + ".png";
}

FailureShots::FailureShots(WebKitWebView* view, std::string directory, TraceSink& trace,
                           const Clock& clock, std::chrono::milliseconds deadline)
    : view_(view),
      directory_(std::move(directory)),
      trace_(trace),
      clock_(clock),
      deadline_(deadline),
      alive_(std::make_shared<bool>(true)) {}

FailureShots::~FailureShots() = default;

void FailureShots::Capture(const std::string& site, std::function<void()> then) {
  std::error_code error;
  MakePrivateDirectories(directory_, error);
  const std::string path = directory_ + "/" + ShotFileName(clock_.Now(), site);
  SavePageAsPng(
      view_, path, deadline_,
      [this, owner = std::weak_ptr(alive_), path, site, then = std::move(then)](bool saved) {
        if (owner.expired()) return;
        if (saved) trace_.TraceLine(NamingSite("Screenshot saved : " + path, site));
        // The file is opened without following links: a link put there is said so.
        else if (IsSymbolicLink(path))
          trace_.TraceLine(NamingSite("Screenshot refused : " + SymbolicLinkRefusal(path), site));
        then();
      });
}

}  // namespace veltrane
