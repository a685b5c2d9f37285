// LoadingIndicator: the "Loading ..." panel of the browser window (Panel2),
// shown when a navigation starts and hidden when a top-level page completes.
// The window implements it; the navigation guards and the step engine only
// call it, on the user-interface thread.
#pragma once

namespace veltrane {

class LoadingIndicator {
 public:
  virtual ~LoadingIndicator() = default;
  virtual void Show() = 0;
  virtual void Hide() = 0;
};

// Remembers whether it is shown; for tests and for windows without a display.
class RecordingLoadingIndicator : public LoadingIndicator {
 public:
  void Show() override {
    shown = true;
    ++showCount;
  }
  void Hide() override { shown = false; }
  bool shown = false;
  int showCount = 0;
};

}  // namespace veltrane
