// Schedules as the whole program sees them: the id that travels from the
// schedule thread to the job, the days a frequency code adds, and whether a
// schedule moves on. After each run the schedule thread sets a schedule's
// next run to now + FrequencyDays(frequency) + time. A schedule whose new next
// run would not lie after now is due again at the very next poll and would be
// submitted once a minute; the service skips such a schedule and
// veltrane-admin marks and refuses it. Pure; any thread.
#pragma once

#include <cstdint>

namespace veltrane {

// The integer key of a schedule row (schedule.id).
using ScheduleId = std::int64_t;

// 0 once (pushed about 274 years ahead), 1 daily, 2 weekly, 3 every 30 days;
// any other code adds nothing.
constexpr int FrequencyDays(int frequency) {
  switch (frequency) {
    case 0: return 100000;
    case 1: return 1;
    case 2: return 7;
    case 3: return 30;
    default: return 0;
  }
}

// True when now + FrequencyDays(frequency) + time lies after now for every
// now, i.e. FrequencyDays(frequency) + time > 0 (in exact arithmetic). False
// for a code outside 0-3 with a time of 0 or less, for a negative time that
// eats up the frequency's days (frequency 1 with time -1), and for a NaN time.
// A code outside 0-3 with a positive time is a custom interval of `time` days.
constexpr bool ScheduleMovesOn(int frequency, double time) {
  return FrequencyDays(frequency) + time > 0;
}

}  // namespace veltrane
