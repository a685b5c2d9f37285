#include "scheduler/scheduler.h"

#include <filesystem>
#include <optional>
#include <thread>
#include <utility>

#include "platform/number_text.h"
#include "platform/schedule_rule.h"
#include "storage/statement_spool.h"

namespace veltrane {

CScheduler::CScheduler(ScheduleQueue& queue, const Clock& clock, TraceSink& trace,
                       std::string databasePath, SchedulerTiming timing)
    : queue_(queue),
      clock_(clock),
      trace_(trace),
      databasePath_(std::move(databasePath)),
      timing_(timing),
      polls_(MakeSqliteScheduleStore(databasePath_)),
      updates_(MakeSqliteScheduleStore(databasePath_, {timing.updateBusyWait})) {}

void CScheduler::Start(ScheduleQueue& queue, const Clock& clock, TraceSink& trace,
                       std::string databasePath, std::shared_ptr<StopRequest> stop,
                       SchedulerTiming timing) {
  auto scheduler =
      std::make_unique<CScheduler>(queue, clock, trace, std::move(databasePath), timing);
  std::thread([scheduler = std::move(scheduler), stop = std::move(stop)] {
    try {
      scheduler->Run(*stop);
    } catch (...) {
      // Nothing here reports to anyone; the thread simply ends.
    }
    stop->MarkFinished();
  }).detach();
}

void CScheduler::Run(const StopRequest& stop) {
  nextPoll_ = clock_.Now();
  while (!stop.Requested()) {
    if (clock_.Now() < nextPoll_) {
      stop.SleepFor(timing_.idleSleep);
      continue;
    }
    // Counted from the start of this poll, so a slow poll does not drift the minute.
    nextPoll_ = clock_.Now() + timing_.pollInterval;
    PollSchedules();
  }
}

void CScheduler::PollSchedules() {
  // Reports that could not be written when their job ended go first.
  RunSpooledStatements(std::filesystem::path(databasePath_).parent_path().string(), databasePath_,
                       trace_);
  std::optional<DueSchedule> due;
  double next = 0.0;
  std::string pollError;
  try {
    // An open failure (no db directory, say) is a failure of this poll only.
    due = polls_->FirstDue(clock_.Now(), [&](const DueSchedule& row) {
      if (!ScheduleMovesOn(row.frequency, row.time)) {
        // It would be due again at once and submitted every poll: left as it is.
        if (invalidReported_.insert(row.id).second)
          trace_.TraceLine("Schedule " + std::to_string(row.id) +
                           " is invalid: its next run would not move on " + "(frequency " +
                           std::to_string(row.frequency) + ", time " + SqlNumberText(row.time) +
                           "); it is not run");
        return false;
      }
      invalidReported_.erase(row.id);
      next = clock_.Now() + FrequencyDays(row.frequency) + row.time;
      return true;
    });
  } catch (const StorageError& error) {
    pollError = error.Message();
  }
  if (pollError != lastPollError_) {
    // Each distinct failure is traced once, not every minute.
    if (!pollError.empty()) trace_.TraceLine("Schedule poll failed : " + pollError);
    lastPollError_ = pollError;
  }
  if (!pollError.empty()) {
    queue_.SetScheduleProblem("Schedule poll failed : " + pollError);
    return;
  }
  if (!due) {
    queue_.SetScheduleProblem("");
    return;
  }
  // Queued only once the next run is written: otherwise every poll would
  // start the same job again, and every site would get the release again.
  const ScheduleId id = due->id;
  std::string error;
  switch (UpdateNextRun(id, next, &error)) {
    case NextRunWrite::Failed: {
      const std::string problem = "Next run of schedule " + std::to_string(id) + " not written (" +
                                  error +
                                  "); it is not started and is tried again at the next poll";
      trace_.TraceLine(problem);
      queue_.SetScheduleProblem(problem);
      return;
    }
    case NextRunWrite::AlreadyPending:
      trace_.TraceLine("Schedule " + std::to_string(id) +
                       " is already queued or running; not queued again");
      queue_.SetScheduleProblem("");
      return;
    case NextRunWrite::Written:
      queue_.SetScheduleProblem("");
      queue_.QueueSchedule(id);
      return;
  }
}

NextRunWrite CScheduler::UpdateNextRun(ScheduleId id, double next, std::string* error) {
  int retries = 0;
  for (;;) {
    try {
      return updates_->AdvanceNextRun(id, next, clock_.Now()) ? NextRunWrite::Written
                                                              : NextRunWrite::AlreadyPending;
    } catch (const StorageError& failure) {
      if (failure.What() != StorageError::Kind::Busy || retries >= timing_.busyRetryBudget) {
        if (error) *error = failure.Message();
        return NextRunWrite::Failed;
      }
      ++retries;
      std::this_thread::sleep_for(timing_.busyRetryPause);
    }
  }
}

}  // namespace veltrane
