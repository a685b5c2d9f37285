// ToolDisplay: the X display on which the authoring commands load pages in
// the service's WebKit view. When DISPLAY is set it is used as it is; when it
// is not, an Xvfb server of our own is started on a free display number (Xvfb
// picks it and writes it to a pipe, so two tools never race for one), used
// for this process, and ended with the object. GTK is initialised on its X11
// backend, as the service initialises it. Main thread only; one at a time.
#pragma once

#include <sys/types.h>

#include <string>

namespace veltrane::authoring {

class ToolDisplay {
 public:
  ToolDisplay();
  ~ToolDisplay();
  ToolDisplay(const ToolDisplay&) = delete;
  ToolDisplay& operator=(const ToolDisplay&) = delete;

  // GTK runs on a display; otherwise Error() says why not.
  bool Ready() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  // True when the display is an Xvfb of our own.
  bool OwnServer() const { return server_ > 0; }

 private:
  void StartServer();

  pid_t server_ = 0;
  std::string error_;
};

}  // namespace veltrane::authoring
