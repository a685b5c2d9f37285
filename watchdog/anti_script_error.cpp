#include "watchdog/anti_script_error.h"

#include <thread>
#include <utility>

namespace veltrane {

CAntiScriptError::CAntiScriptError(std::unique_ptr<DesktopWindows> desktop,
                                   std::chrono::milliseconds cycle)
    : desktop_(std::move(desktop)), cycle_(cycle) {}

void CAntiScriptError::Start(std::shared_ptr<StopRequest> stop, std::chrono::milliseconds cycle) {
  std::thread([stop = std::move(stop), cycle] {
    try {
      CAntiScriptError watchdog(std::make_unique<X11Desktop>(), cycle);
      watchdog.Run(*stop);
    } catch (...) {
      // Nothing is reported; the thread simply ends.
    }
    stop->MarkFinished();
  }).detach();
}

void CAntiScriptError::Run(const StopRequest& stop) {
  while (!stop.Requested()) {
    if (stop.SleepFor(cycle_)) break;
    DismissDialogs();
  }
}

void CAntiScriptError::DismissDialogs() {
  if (auto window = desktop_->FindWindowByTitle(kScriptErrorTitle)) desktop_->RequestClose(*window);
  for (const char* title : kEnterTitles) {
    if (auto window = desktop_->FindWindowByTitle(title)) {
      desktop_->Activate(*window);
      desktop_->PressEnter();
    }
  }
}

}  // namespace veltrane
