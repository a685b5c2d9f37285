// DesktopWindows: the few desktop operations the dialog watchdog needs, on
// top-level windows found by their whole title. X11Desktop implements them on
// a Display connection of its own, so it may live on any one thread.
#pragma once

#include <X11/Xlib.h>

#include <optional>
#include <string>

namespace veltrane {

class DesktopWindows {
 public:
  using WindowId = unsigned long;
  virtual ~DesktopWindows() = default;
  // The first top-level window whose whole title is `title`.
  virtual std::optional<WindowId> FindWindowByTitle(const std::string& title) = 0;
  // Asks the window to close, as its close button would.
  virtual void RequestClose(WindowId window) = 0;
  // Brings the window to the foreground with the keyboard focus.
  virtual void Activate(WindowId window) = 0;
  // Presses and releases Enter on whatever has the focus.
  virtual void PressEnter() = 0;
};

class X11Desktop : public DesktopWindows {
 public:
  // Opens its own connection to `displayName` (null: $DISPLAY).
  explicit X11Desktop(const char* displayName = nullptr);
  ~X11Desktop() override;
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  bool Connected() const { return display_ != nullptr; }

  std::optional<WindowId> FindWindowByTitle(const std::string& title) override;
  void RequestClose(WindowId window) override;
  void Activate(WindowId window) override;
  void PressEnter() override;

 private:
  std::string TitleOf(Window window);

  Display* display_ = nullptr;
};

}  // namespace veltrane
