// Where the schedule thread hands the ids of due schedules, and tells of a
// schedule it could not take. The main window implements it; both are called
// on the schedule thread.
#pragma once

#include <string>

namespace veltrane {

class ScheduleQueue {
 public:
  virtual ~ScheduleQueue() = default;
  virtual bool QueueSchedule(const std::string& id) = 0;
  // What keeps due schedules from running ("" once a schedule was taken again).
  virtual void SetScheduleProblem(const std::string& /*text*/) {}
};

}  // namespace veltrane
