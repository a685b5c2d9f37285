// PageCapture: keeps a picture of the page as it stands, for a site that
// failed. Capture is asynchronous; `then` runs exactly once, when the picture
// is kept, when it could not be taken, or when its deadline passed.
// User-interface thread only.
#pragma once

#include <functional>
#include <string>

namespace veltrane {

class PageCapture {
 public:
  virtual ~PageCapture() = default;
  virtual void Capture(const std::string& site, std::function<void()> then) = 0;
};

}  // namespace veltrane
