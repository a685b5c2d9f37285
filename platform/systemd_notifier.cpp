#include "platform/systemd_notifier.h"

#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/stderr_trace.h"

namespace veltrane {

namespace {

std::optional<long> NumberOf(const char* text) {
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (*end != '\0' || value <= 0) return std::nullopt;
  return static_cast<long>(value);
}

void Notify(const std::string& message) { sd_notify(0, message.c_str()); }

}  // namespace

std::optional<std::uint64_t> WatchdogInterval(const std::function<const char*(const char*)>& lookup,
                                              long self, long parent) {
  const std::optional<long> usec = NumberOf(lookup("WATCHDOG_USEC"));
  if (!usec) return std::nullopt;
  const char* pidText = lookup("WATCHDOG_PID");
  if (pidText && *pidText) {
    const std::optional<long> pid = NumberOf(pidText);
    if (!pid || (*pid != self && *pid != parent)) return std::nullopt;
  }
  return static_cast<std::uint64_t>(*usec);
}

SystemdNotifier::SystemdNotifier() = default;

SystemdNotifier::~SystemdNotifier() {
  if (watchdog_) g_source_remove(watchdog_);
}

void SystemdNotifier::Ready() {
  // Under xvfb-run systemd started the wrapper: this process becomes the main
  // one, so that its exit status is the service's.
  Notify("READY=1\nMAINPID=" + std::to_string(getpid()));
}

void SystemdNotifier::ShowStatus(const std::string& text) { Notify("STATUS=" + OneLineText(text)); }

void SystemdNotifier::Stopping() { Notify("STOPPING=1"); }

void SystemdNotifier::StartWatchdog() {
  if (watchdog_) return;
  std::uint64_t usec = 0;
  // sd_watchdog_enabled knows only this process; under xvfb-run systemd named the wrapper.
  std::optional<std::uint64_t> interval;
  if (sd_watchdog_enabled(0, &usec) > 0)
    interval = usec;
  else
    interval =
        WatchdogInterval([](const char* name) { return std::getenv(name); }, getpid(), getppid());
  if (!interval) return;
  const guint periodMs = static_cast<guint>(std::max<std::uint64_t>(*interval / 2000, 1));
  watchdog_ = g_timeout_add(periodMs, &SystemdNotifier::Ping, nullptr);
  Ping(nullptr);
}

gboolean SystemdNotifier::Ping(gpointer) {
  sd_notify(0, "WATCHDOG=1");
  return G_SOURCE_CONTINUE;
}

}  // namespace veltrane
