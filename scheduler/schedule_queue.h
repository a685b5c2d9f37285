// Where the schedule thread hands the ids of due schedules, and tells of what
// keeps due schedules from running. ScheduleInbox is the one the program
// uses: PendingSchedules under PendingLock, oldest first, each id at most
// once, read by the main window. QueueSchedule and SetScheduleProblem are
// called on the schedule thread; everything of the inbox is thread-safe.
#pragma once

#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <string>

#include "platform/schedule_rule.h"

namespace veltrane {

class ScheduleQueue {
 public:
  virtual ~ScheduleQueue() = default;
  virtual bool QueueSchedule(ScheduleId id) = 0;
  // What keeps due schedules from running ("" once a schedule was taken again).
  virtual void SetScheduleProblem(const std::string& /*text*/) {}
};

class ScheduleInbox : public ScheduleQueue {
 public:
  // Appends the id unless it waits already (it would only run twice in a row).
  bool QueueSchedule(ScheduleId id) override;
  void SetScheduleProblem(const std::string& text) override;

  // The oldest waiting id, taken out; none when nothing waits.
  std::optional<ScheduleId> TakeNextSchedule();
  std::size_t PendingCount();
  std::string ScheduleProblem();

 private:
  std::mutex PendingLock;
  std::list<ScheduleId> PendingSchedules;
  std::string problem_;
};

}  // namespace veltrane
