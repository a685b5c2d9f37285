// Whether a schedule moves on. After each run the schedule thread sets a
// schedule's next run to now + FrequencyDays(frequency) + time. A schedule
// whose new next run would not lie after now is due again at the very next
// poll and would be submitted once a minute; the service skips such a
// schedule and veltrane-admin marks and refuses it. Pure; any thread.
#pragma once

#include "scheduler/frequency.h"

namespace veltrane {

// True when now + FrequencyDays(frequency) + time lies after now for every
// now, i.e. FrequencyDays(frequency) + time > 0 (in exact arithmetic). False
// for a code outside 0-3 with a time of 0 or less, for a negative time that
// eats up the frequency's days (frequency 1 with time -1), and for a NaN time.
// A code outside 0-3 with a positive time is a custom interval of `time` days.
constexpr bool ScheduleMovesOn(int frequency, double time) {
  return FrequencyDays(frequency) + time > 0;
}

}  // namespace veltrane
