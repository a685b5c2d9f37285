#include "scheduler/schedule_queue.h"

#include <algorithm>

namespace veltrane {

bool ScheduleInbox::QueueSchedule(ScheduleId id) {
  std::lock_guard lock(PendingLock);
  if (std::find(PendingSchedules.begin(), PendingSchedules.end(), id) == PendingSchedules.end())
    PendingSchedules.push_back(id);
  return true;
}

void ScheduleInbox::SetScheduleProblem(const std::string& text) {
  std::lock_guard lock(PendingLock);
  problem_ = text;
}

std::optional<ScheduleId> ScheduleInbox::TakeNextSchedule() {
  std::lock_guard lock(PendingLock);
  if (PendingSchedules.empty()) return std::nullopt;
  const ScheduleId id = PendingSchedules.front();
  PendingSchedules.pop_front();
  return id;
}

std::size_t ScheduleInbox::PendingCount() {
  std::lock_guard lock(PendingLock);
  return PendingSchedules.size();
}

std::string ScheduleInbox::ScheduleProblem() {
  std::lock_guard lock(PendingLock);
  return problem_;
}

}  // namespace veltrane
