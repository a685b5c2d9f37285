// CAntiScriptError: the dialog watchdog thread. Every cycle it looks for the
// browser's script-error and security dialogs by their whole titles and
// dismisses one window per title: the script-error dialog by a close request,
// the others by pressing Enter on them. It shares no data with the program;
// Start() runs it on a detached thread that owns it and its desktop connection.
#pragma once

#include <chrono>
#include <memory>

#include "platform/stop_request.h"
#include "watchdog/desktop_windows.h"

namespace veltrane {

class CAntiScriptError {
 public:
  static constexpr const char* kScriptErrorTitle = "Internet Explorer Script Error";
  static constexpr const char* kEnterTitles[] = {"Microsoft Internet Explorer", "Security Alert",
                                                 "Security Information"};
  static constexpr std::chrono::milliseconds kCycle{30000};

  explicit CAntiScriptError(std::unique_ptr<DesktopWindows> desktop,
                            std::chrono::milliseconds cycle = kCycle);

  // Runs on a detached thread with an X11Desktop of its own.
  static void Start(std::shared_ptr<StopRequest> stop, std::chrono::milliseconds cycle = kCycle);

  // The thread body: waits a cycle, then dismisses, until asked to stop.
  void Run(const StopRequest& stop);
  // One pass over the four titles, in order.
  void DismissDialogs();

 private:
  std::unique_ptr<DesktopWindows> desktop_;
  std::chrono::milliseconds cycle_;
};

}  // namespace veltrane
