// Days a schedule's frequency code adds to its next-run time.
#pragma once

namespace veltrane {

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

}  // namespace veltrane
