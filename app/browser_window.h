// TForm2: the browser window. It hosts the WebKit control as `Browser` inside
// `Panel1` and the yellow "Loading ..." panel `Panel2` (which the job host
// shows while a page loads), and an unused `StatusBar1`. The job itself lives
// in the JobHost; this window only shows its page. It stands off screen
// (left -10000), on top, for the whole run; a close request only moves it
// back there. User-interface thread only.
#pragma once

#include <gtk/gtk.h>

#include <memory>

#include "app/main_window.h"
#include "browser/loading_indicator.h"
#include "browser/webkit_browser.h"

namespace veltrane {

class TForm2 : public SubmissionWindow, public LoadingIndicator {
 public:
  static constexpr int kOffScreenLeft = -10000;

  explicit TForm2(WebKitBrowserOptions browser = {});
  ~TForm2() override;
  TForm2(const TForm2&) = delete;
  TForm2& operator=(const TForm2&) = delete;

  void ShowOffScreen() override;
  void MoveToLeft(int left) override;

  // Panel2.
  void Show() override;
  void Hide() override;
  bool LoadingShown() const;

  // Moves the window off screen and refuses to close.
  bool FormCloseQuery();

  GtkWindow* Window() const { return GTK_WINDOW(window_); }
  WebKitBrowser& Browser() { return *browser_; }

 private:
  void BuildWindow();

  GtkWidget* window_ = nullptr;
  GtkWidget* panel2_ = nullptr;
  std::unique_ptr<WebKitBrowser> browser_;
};

}  // namespace veltrane
