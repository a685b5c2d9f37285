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

bool ScheduleInbox::QueueTakeover(ScheduleId, std::int64_t jobId) {
  std::function<void()> onQueued;
  {
    std::lock_guard lock(PendingLock);
    if (std::find(takeovers_.begin(), takeovers_.end(), jobId) != takeovers_.end()) return true;
    takeovers_.push_back(jobId);
    onQueued = onQueued_;
  }
  if (onQueued) onQueued();
  return true;
}

std::optional<std::int64_t> ScheduleInbox::TakeNextTakeover() {
  std::lock_guard lock(PendingLock);
  if (takeovers_.empty()) return std::nullopt;
  const std::int64_t id = takeovers_.front();
  takeovers_.pop_front();
  return id;
}

bool ScheduleInbox::ReadyForWork() {
  std::lock_guard lock(PendingLock);
  return !busy_ && PendingSchedules.empty() && takeovers_.empty();
}

void ScheduleInbox::SetBusy(bool busy) {
  std::lock_guard lock(PendingLock);
  busy_ = busy;
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

void ScheduleInbox::Polled(std::optional<double> nextRun, const std::string& error) {
  std::lock_guard lock(PendingLock);
  ++polls_;
  pollError_ = error;
  nextRun_ = nextRun;
}

bool ScheduleInbox::HasPolled() { return PollCount() > 0; }

std::uint64_t ScheduleInbox::PollCount() {
  std::lock_guard lock(PendingLock);
  return polls_;
}

std::string ScheduleInbox::PollError() {
  std::lock_guard lock(PendingLock);
  return pollError_;
}

std::vector<ScheduleId> ScheduleInbox::Pending() {
  std::lock_guard lock(PendingLock);
  return {PendingSchedules.begin(), PendingSchedules.end()};
}

std::optional<double> ScheduleInbox::NextRun() {
  std::lock_guard lock(PendingLock);
  return nextRun_;
}

}  // namespace veltrane
