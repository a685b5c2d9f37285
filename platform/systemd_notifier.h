// SystemdNotifier: the ServiceNotifier over systemd's notification socket
// (sd_notify; nothing is sent without $NOTIFY_SOCKET). When systemd asks for
// keep-alive pings ($WATCHDOG_USEC), StartWatchdog sends WATCHDOG=1 from the
// GLib main loop at half that interval, so a main loop that hangs stops the
// pings and systemd restarts the service. READY=1 names this process as the
// service's main one (MAINPID): the unit starts the service itself, but one
// started under a wrapper (xvfb-run) is named the same way. User-interface
// thread only.
#pragma once

#include <glib.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/service_notifier.h"

namespace veltrane {

// The keep-alive interval in microseconds that systemd asks of this process:
// $WATCHDOG_USEC when positive and $WATCHDOG_PID is unset, this process or its
// parent (xvfb-run, which systemd started and named). `lookup` gives an
// environment value or null.
std::optional<std::uint64_t> WatchdogInterval(const std::function<const char*(const char*)>& lookup,
                                              long self, long parent);

class SystemdNotifier : public ServiceNotifier {
 public:
  SystemdNotifier();
  ~SystemdNotifier() override;
  SystemdNotifier(const SystemdNotifier&) = delete;
  SystemdNotifier& operator=(const SystemdNotifier&) = delete;

  void Ready() override;
  void ShowStatus(const std::string& text) override;
  void Stopping() override;
  // Starts the pings on the default main context when systemd wants them.
  void StartWatchdog();

 private:
  static gboolean Ping(gpointer);
  guint watchdog_ = 0;
};

}  // namespace veltrane
