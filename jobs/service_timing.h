// ServiceTiming: the service's fixed intervals, which tests of the built
// binary may shorten through the environment: VELTRANE_PAGE_TIMEOUT_MS (the
// page timer's period; the deadline keeps its 180/300 share of it) and
// VELTRANE_POLL_INTERVAL_MS (between the starts of two schedule polls).
// Unset, empty or unreadable values keep the defaults. For tests only,
// VELTRANE_TEST_CLOCK_JUMP="<ms>:<seconds>" sets the service's day clock
// <seconds> off (negative: back) <ms> after the start, as a clock or zone
// change would.
#pragma once

#include <functional>
#include <string>

namespace veltrane {

struct ServiceTiming {
  unsigned pageTimerMs = 300000;
  double pageDeadline = 1.0 / 480.0;   // days
  double pollInterval = 1.0 / 1440.0;  // days
  unsigned clockJumpAfterMs = 0;
  double clockJump = 0.0;  // days; 0: the day clock never jumps
};

// `lookup` gives an environment value, or null when the variable is unset.
ServiceTiming ReadServiceTiming(const std::function<const char*(const char*)>& lookup);

}  // namespace veltrane
