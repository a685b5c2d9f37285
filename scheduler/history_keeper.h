// HistoryKeeper: the service's own retention of its history. With
// history_keep_days set in veltrane.conf it prunes (PruneHistory) what is
// older than that many days, at start and every 24 hours after, on a thread
// of its own. It runs only while the instance has no job in hand
// (ScheduleQueue::ReadyForWork): before each batch it waits until no job runs
// or waits, so it never runs during a job, and a batch is short enough not to
// hold one up. What it removed, or why it failed, goes to the trace; a
// failure is tried again at the next prune. Start() runs it on a detached
// thread that frees it when it ends.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/day_clock.h"
#include "platform/stop_request.h"
#include "platform/trace.h"
#include "scheduler/schedule_queue.h"
#include "storage/database_files.h"

namespace veltrane {

struct HistoryRetention {
  int keepDays = 0;     // 0: the history is kept whole
  std::string problem;  // why the setting was not taken; "" when it was, or is absent
};

// history_keep_days of a configuration text: a whole number of days from 1.
HistoryRetention HistoryRetentionOf(const std::string& configurationText);

struct HistoryKeeperTiming {
  std::chrono::milliseconds period = std::chrono::hours(24);
  std::chrono::milliseconds idleCheck{1000};  // between looks while a job runs
};

class HistoryKeeper {
 public:
  // `trace` must be safe to call from the keeper's thread; `keepDays` from 1.
  HistoryKeeper(ScheduleQueue& queue, const Clock& clock, TraceSink& trace, DatabasePaths paths,
                std::string shotsDirectory, int keepDays, HistoryKeeperTiming timing = {});

  // Runs Run on a detached thread that owns the keeper. The queue and clock
  // must outlive it; `stop` ends it and reports its end.
  static void Start(std::unique_ptr<HistoryKeeper> keeper, std::shared_ptr<StopRequest> stop);

  // Prunes at once, then once every period, until `stop`.
  void Run(const StopRequest& stop);
  // One prune, batch by batch while no job runs; stops early on `stop`.
  void Prune(const StopRequest& stop);

 private:
  ScheduleQueue& queue_;
  const Clock& clock_;
  TraceSink& trace_;
  DatabasePaths paths_;
  std::string shotsDirectory_;
  int keepDays_;
  HistoryKeeperTiming timing_;
};

}  // namespace veltrane
