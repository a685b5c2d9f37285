// ServiceNotifier: what the service tells the service manager that started it
// (systemd): that it is ready, and one line on what it does now. Outside a
// service manager it tells nobody. User-interface thread only.
#pragma once

#include <string>

namespace veltrane {

class ServiceNotifier {
 public:
  virtual ~ServiceNotifier() = default;
  // Start-up is done: the store answered and the first schedule poll ran.
  virtual void Ready() = 0;
  // What the service does now, in one line ("idle", "Running schedule 3 ...").
  virtual void ShowStatus(const std::string& text) = 0;
  // The service is ending of its own accord.
  virtual void Stopping() = 0;
};

}  // namespace veltrane
