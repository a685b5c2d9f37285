#include "scheduler/scheduler.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <thread>
#include <utility>

#include "platform/date_text.h"
#include "platform/number_text.h"
#include "platform/schedule_rule.h"
#include "storage/spool.h"

namespace veltrane {

CScheduler::CScheduler(ScheduleQueue& queue, const Clock& clock, TraceSink& trace,
                       DatabasePaths paths, SchedulerTiming timing)
    : queue_(queue),
      clock_(clock),
      trace_(trace),
      timing_(timing),
      polls_(MakeScheduleStore(paths)),
      updates_(MakeScheduleStore(paths, {timing.updateBusyWait})),
      history_(MakeHistoryStore(paths)),
      claims_(MakeJobClaims(paths)) {}

void CScheduler::Start(ScheduleQueue& queue, const Clock& clock, TraceSink& trace,
                       DatabasePaths paths, std::shared_ptr<StopRequest> stop,
                       SchedulerTiming timing) {
  auto scheduler = std::make_unique<CScheduler>(queue, clock, trace, std::move(paths), timing);
  std::thread([scheduler = std::move(scheduler), stop = std::move(stop), &trace] {
    // Polls stop for good here: the service goes on without them, and says why.
    try {
      scheduler->Run(*stop);
    } catch (const std::exception& error) {
      trace.TraceLine(std::string("Schedule polling stopped : ") + error.what());
    } catch (...) {
      trace.TraceLine("Schedule polling stopped : unknown error");
    }
    stop->MarkFinished();
  }).detach();
}

void CScheduler::Run(const StopRequest& stop) {
  nextPoll_ = clock_.Now();
  while (!stop.Requested()) {
    RenewLeasesWhenDue();
    if (clock_.Now() < nextPoll_) {
      stop.SleepFor(claims_ ? std::min(timing_.idleSleep, UntilRenewal()) : timing_.idleSleep);
      continue;
    }
    // Counted from the start of this poll, so a slow poll does not drift the minute.
    nextPoll_ = clock_.Now() + timing_.pollInterval;
    PollSchedules();
    queue_.Polled(EarliestNextRun());
  }
}

std::optional<double> CScheduler::EarliestNextRun() {
  try {
    // One that is due still is either taken at the next poll or invalid.
    const double now = clock_.Now();
    std::optional<double> earliest;
    for (const ScheduleEntry& entry : polls_->List())
      if (!entry.disabled && entry.next && *entry.next > now &&
          (!earliest || *entry.next < *earliest))
        earliest = entry.next;
    return earliest;
  } catch (const StorageError&) {
    return std::nullopt;  // the poll has said what is wrong with the store
  }
}

void CScheduler::PollSchedules() {
  // Reports that could not be written when their job ended go first.
  history_->WriteKept(trace_);
  if (claims_) {
    if (!timeBaseTold_) TellTimeBase();
    if (queue_.ReadyForWork()) ClaimOnServer();
    return;
  }
  std::optional<DueSchedule> due;
  double next = 0.0;
  std::string pollError;
  try {
    // An open failure (no db directory, say) is a failure of this poll only.
    due = polls_->FirstDue(clock_.Now(), [&](const DueSchedule& row) {
      if (!ScheduleMovesOn(row.frequency, row.time)) {
        // It would be due again at once and submitted every poll: left as it is.
        ReportInvalid(row.id, row.frequency, row.time);
        return false;
      }
      invalidReported_.erase(row.id);
      next = clock_.Now() + FrequencyDays(row.frequency) + row.time;
      return true;
    });
  } catch (const StorageError& error) {
    pollError = error.Message();
  }
  if (!ReportPollError(pollError)) return;
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

bool CScheduler::ReportPollError(const std::string& pollError) {
  if (pollError != lastPollError_) {
    // Each distinct failure is traced once, not every minute.
    if (!pollError.empty()) trace_.TraceLine("Schedule poll failed : " + pollError);
    lastPollError_ = pollError;
  }
  if (pollError.empty()) return true;
  queue_.SetScheduleProblem("Schedule poll failed : " + pollError);
  return false;
}

void CScheduler::ReportInvalid(ScheduleId id, int frequency, double time) {
  if (invalidReported_.insert(id).second)
    trace_.TraceLine("Schedule " + std::to_string(id) +
                     " is invalid: its next run would not move on " + "(frequency " +
                     std::to_string(frequency) + ", time " + SqlNumberText(time) +
                     "); it is not run");
}

void CScheduler::ClaimOnServer() {
  std::optional<ClaimedJob> claimed;
  std::string pollError;
  try {
    claimed = claims_->Claim(
        [&](ScheduleId id, int frequency, double time) { ReportInvalid(id, frequency, time); });
  } catch (const StorageError& error) {
    pollError = error.Message();
  }
  if (!ReportPollError(pollError)) return;
  queue_.SetScheduleProblem("");
  if (!claimed) return;
  const std::string schedule = std::to_string(claimed->scheduleId);
  if (claimed->alreadyPending) {
    trace_.TraceLine("Schedule " + schedule + " is already queued or running; not queued again");
  } else if (claimed->takenOver) {
    trace_.TraceLine("Job " + std::to_string(claimed->jobId) + " of schedule " + schedule +
                     " taken over: the instance that held it let its lease run out");
    queue_.QueueTakeover(claimed->scheduleId, claimed->jobId);
  } else {
    queue_.QueueSchedule(claimed->scheduleId);
  }
}

std::chrono::milliseconds CScheduler::UntilRenewal() const {
  const auto left = nextRenewal_ - std::chrono::steady_clock::now();
  return std::max(std::chrono::milliseconds(1), std::chrono::ceil<std::chrono::milliseconds>(left));
}

void CScheduler::RenewLeasesWhenDue() {
  // On the monotonic clock: a day clock that jumps back (a zone that falls
  // back, a clock set right) must not hold renewals back until the lease ends.
  const auto now = std::chrono::steady_clock::now();
  if (!claims_ || now < nextRenewal_) return;
  nextRenewal_ = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::seconds(ThisInstance().leaseSeconds)) /
                           4;
  try {
    claims_->RenewLeases();
  } catch (const StorageError& failure) {
    // Every one: the jobs are stopped once their leases are too old to trust.
    trace_.TraceLine(std::string("Leases of the running jobs not renewed : ") + failure.Message());
  }
}

void CScheduler::TellTimeBase() {
  ServerTime server;
  try {
    server = claims_->TimeBase();
  } catch (const StorageError&) {
    return;  // the poll's own error is traced; told once the server answers
  }
  timeBaseTold_ = true;
  const int own = LocalUtcOffsetSeconds();
  if (own == server.utcOffsetSeconds) return;
  trace_.TraceLine("This instance's time zone (" + UtcOffsetText(own) +
                   ") differs from the database server's (" + server.zone + ", " +
                   UtcOffsetText(server.utcOffsetSeconds) +
                   "): due times are judged on the server's local time");
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
