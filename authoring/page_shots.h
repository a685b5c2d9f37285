// PageShots: a numbered PNG of every page a trial handled, in one folder:
// "page-01.png", "page-02.png", ... (the folder made 0700 where missing, the
// files 0600). Each capture is asynchronous and ends when its file is
// written, when the picture could not be taken, or at its deadline;
// Pending() tells whether one is still out. A symbolic link in a picture's
// place is refused, never written through. User-interface thread only; the
// view must outlive the object.
#pragma once

#include <webkit2/webkit2.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace veltrane::authoring {

class PageShots {
 public:
  PageShots(WebKitWebView* view, std::string directory,
            std::chrono::milliseconds deadline = std::chrono::seconds(10));
  ~PageShots();
  PageShots(const PageShots&) = delete;
  PageShots& operator=(const PageShots&) = delete;

  // Asks for a picture of the page as it stands; gives the line to trace:
  // "Page picture : <path>", or "Page picture refused : <why>".
  std::string Capture();
  bool Pending() const { return *pending_ > 0; }
  // The files written so far, in the order they were written.
  const std::vector<std::string>& Saved() const { return *saved_; }

 private:
  WebKitWebView* view_;
  std::string directory_;
  std::chrono::milliseconds deadline_;
  int count_ = 0;
  // Shared with the captures in flight, which may end after the object.
  std::shared_ptr<int> pending_ = std::make_shared<int>(0);
  std::shared_ptr<std::vector<std::string>> saved_ = std::make_shared<std::vector<std::string>>();
};

}  // namespace veltrane::authoring
