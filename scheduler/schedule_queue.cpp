#include "scheduler/schedule_queue.h"

#include <algorithm>
#include <utility>

namespace veltrane {

bool ScheduleInbox::QueueSchedule(ScheduleId id) {
  std::function<void()> onQueued;
  {
    std::lock_guard lock(PendingLock);
    if (std::find(PendingSchedules.begin(), PendingSchedules.end(), id) != PendingSchedules.end())
      return true;
    PendingSchedules.push_back(id);
    onQueued = onQueued_;
  }
  if (onQueued) onQueued();
  return true;
}

void ScheduleInbox::SetOnQueued(std::function<void()> onQueued) {
  std::lock_guard lock(PendingLock);
  onQueued_ = std::move(onQueued);
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
