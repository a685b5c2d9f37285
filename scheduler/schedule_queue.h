// Where the schedule thread hands the ids of due schedules. The main window
// implements it; QueueSchedule is called on the schedule thread.
#pragma once

#include <string>

namespace veltrane {

class ScheduleQueue {
 public:
  virtual ~ScheduleQueue() = default;
  virtual bool QueueSchedule(const std::string& id) = 0;
};

}  // namespace veltrane
