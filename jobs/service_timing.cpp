#include "jobs/service_timing.h"

#include <cstdlib>

namespace veltrane {
namespace {

constexpr double kMsPerDay = 86400000.0;

// A whole number of milliseconds above zero, or 0 when the text is not one.
unsigned long Milliseconds(const char* text) {
  if (!text || !*text) return 0;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  return *end == '\0' && value < 86400000UL ? value : 0;
}

}  // namespace

ServiceTiming ReadServiceTiming(const std::function<const char*(const char*)>& lookup) {
  ServiceTiming timing;
  if (const unsigned long page = Milliseconds(lookup("VELTRANE_PAGE_TIMEOUT_MS"))) {
    timing.pageTimerMs = static_cast<unsigned>(page);
    timing.pageDeadline = page * 0.6 / kMsPerDay;
  }
  if (const unsigned long poll = Milliseconds(lookup("VELTRANE_POLL_INTERVAL_MS")))
    timing.pollInterval = poll / kMsPerDay;
  if (const char* jump = lookup("VELTRANE_TEST_CLOCK_JUMP")) {
    char* end = nullptr;
    const unsigned long after = std::strtoul(jump, &end, 10);
    if (end != jump && *end == ':') {
      const char* seconds = end + 1;
      const long by = std::strtol(seconds, &end, 10);
      if (end != seconds && *end == '\0') {
        timing.clockJumpAfterMs = static_cast<unsigned>(after);
        timing.clockJump = by / 86400.0;
      }
    }
  }
  return timing;
}

}  // namespace veltrane
