// ToolDisplay: the X display on which the authoring commands load pages in
// the service's WebKit view. When DISPLAY is set it is used as it is; when it
// is not, a PrivateXServer of our own is started (only this process and its
// children hold its cookie), used for this process, and ended with the
// object. GTK is initialised on its X11 backend, as the service initialises
// it. Main thread only; one at a time.
#pragma once

#include <optional>
#include <string>

#include "platform/private_x_server.h"

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
  bool OwnServer() const { return server_.has_value(); }

 private:
  std::optional<PrivateXServer> server_;
  std::string error_;
};

}  // namespace veltrane::authoring
