// Where the schedule thread hands the ids of due schedules, and tells of what
// keeps due schedules from running. ScheduleInbox is the one the program
// uses: PendingSchedules under PendingLock, oldest first, each id at most
// once, read by the main window, which it wakes (SetOnQueued) when an id
// comes in. QueueSchedule, SetScheduleProblem and Polled are called on the
// schedule thread; everything of the inbox is thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/schedule_rule.h"

namespace veltrane {

class ScheduleQueue {
 public:
  virtual ~ScheduleQueue() = default;
  virtual bool QueueSchedule(ScheduleId id) = 0;
  // What keeps due schedules from running ("" once a schedule was taken again).
  virtual void SetScheduleProblem(const std::string& /*text*/) {}
  // Job `jobId` of schedule `id`, taken over from an instance that died: it
  // is to be finished, its ended sites not run again. Nothing by default.
  virtual bool QueueTakeover(ScheduleId /*id*/, std::int64_t /*jobId*/) { return false; }
  // Whether the instance would start a job now: on a shared server, work is
  // claimed only then, so that idle instances get it. Always by default.
  virtual bool ReadyForWork() { return true; }
  // A poll has run, whatever it found; `nextRun` is the earliest next run of
  // any schedule as read after it (none when unknown), `error` why the poll
  // failed ("" when it did not). Nothing by default.
  virtual void Polled(std::optional<double> /*nextRun*/, const std::string& /*error*/) {}
};

class ScheduleInbox : public ScheduleQueue {
 public:
  // Appends the id unless it waits already (it would only run twice in a row).
  bool QueueSchedule(ScheduleId id) override;
  void SetScheduleProblem(const std::string& text) override;
  // Taken-over jobs wait apart from the schedule ids and go before them.
  bool QueueTakeover(ScheduleId id, std::int64_t jobId) override;
  // Nothing waits and the main window has no job running (SetBusy).
  bool ReadyForWork() override;
  void SetBusy(bool busy);

  // The oldest waiting id, taken out; none when nothing waits.
  std::optional<ScheduleId> TakeNextSchedule();
  std::optional<std::int64_t> TakeNextTakeover();
  std::size_t PendingCount();
  std::string ScheduleProblem();
  void Polled(std::optional<double> nextRun, const std::string& error) override;
  // Whether a poll has run yet, and the next run it read.
  bool HasPolled();
  std::optional<double> NextRun();
  // How many polls have run, and why the last one failed ("" when it did not).
  std::uint64_t PollCount();
  std::string PollError();
  // The waiting ids, oldest first.
  std::vector<ScheduleId> Pending();

  // Runs `onQueued` after each id appended, on the thread that queued it and
  // outside the lock; empty: nothing runs. Replacing it waits for no call
  // already under way, so it must stay callable after it was replaced.
  void SetOnQueued(std::function<void()> onQueued);

 private:
  std::mutex PendingLock;
  std::list<ScheduleId> PendingSchedules;
  std::list<std::int64_t> takeovers_;
  bool busy_ = false;
  std::string problem_;
  std::uint64_t polls_ = 0;
  std::string pollError_;
  std::optional<double> nextRun_;
  std::function<void()> onQueued_;
};

}  // namespace veltrane
