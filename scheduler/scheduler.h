// CScheduler: the schedule thread. Once a minute it finds the longest-due
// schedule in the main database, moves the schedule's next-run time forward
// (recording the job as queued in the same transaction) and, only once that
// is written, hands its id to a ScheduleQueue: a schedule whose next run
// cannot be written never starts a job, and is tried again at the next poll.
// A schedule whose next run would not move on is skipped (traced once), and
// one whose job is still queued or running is not queued again. Poll errors
// are traced once each and shown through the queue.
// On a server that several instances share, a poll claims instead: a job
// whose holder's lease ran out is taken over (handed on with QueueTakeover),
// or else the longest-due schedule is taken in one transaction that writes
// its next run and this instance's lease, judged on the server's local time
// (an instance whose zone differs says so once); the leases of the jobs this
// instance holds are renewed four times per lease, timed on the monotonic
// clock, and every failed renewal is traced.
// It reads and writes through its stores, which open a connection per poll
// and per update, and talks to the window only through the queue, which is
// told after every poll (Polled) of the earliest next run and of the poll's
// error. Start() runs it on a detached thread that frees it when it ends.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/day_clock.h"
#include "platform/stop_request.h"
#include "platform/trace.h"
#include "scheduler/schedule_queue.h"
#include "storage/stores.h"

namespace veltrane {

struct SchedulerTiming {
  std::chrono::milliseconds idleSleep{1000};      // between looks at the clock
  int updateBusyWait = 5000;                      // ms SQLite waits inside the update
  std::chrono::milliseconds busyRetryPause{100};  // between busy update attempts
  int busyRetryBudget = 600;
  double pollInterval = 1.0 / 1440.0;  // days between the starts of two polls
};

enum class NextRunWrite {
  Written,         // next run written, job recorded as queued
  AlreadyPending,  // next run written; the schedule's last job is still queued or running
  Failed,
};

class CScheduler {
 public:
  static constexpr double kPollInterval = SchedulerTiming{}.pollInterval;  // one minute in days

  // `trace` must be safe to call from the schedule thread.
  CScheduler(ScheduleQueue& queue, const Clock& clock, TraceSink& trace, DatabasePaths paths,
             SchedulerTiming timing = {});

  // Runs the thread body on a detached thread that owns the scheduler. The
  // queue and clock must outlive it; `stop` ends it and reports its end.
  static void Start(ScheduleQueue& queue, const Clock& clock, TraceSink& trace, DatabasePaths paths,
                    std::shared_ptr<StopRequest> stop, SchedulerTiming timing = {});

  // The thread body: polls at once, then a minute after each poll began.
  void Run(const StopRequest& stop);

  // One poll: advance the longest-due schedule's next-run time, then queue it.
  void PollSchedules();

  // Writes schedule.next and records a queued job of the schedule (unless one
  // is still queued or running), in one transaction, retrying while the
  // database is busy. Open failures and other errors give Failed, and `error`
  // says why.
  NextRunWrite UpdateNextRun(ScheduleId id, double next, std::string* error = nullptr);

  double NextPoll() const { return nextPoll_; }

 private:
  // Traces a poll error once and shows it; false when there was one.
  bool ReportPollError(const std::string& pollError);
  // The trace for a schedule skipped because it would not move on (once per id).
  void ReportInvalid(ScheduleId id, int frequency, double time);
  void ClaimOnServer();
  void RenewLeasesWhenDue();
  std::chrono::milliseconds UntilRenewal() const;
  // Traces, once, that this instance's zone is not the server's.
  void TellTimeBase();
  // The earliest next run after now of any schedule, for the status; none on an error.
  std::optional<double> EarliestNextRun();

  ScheduleQueue& queue_;
  const Clock& clock_;
  TraceSink& trace_;
  SchedulerTiming timing_;
  std::unique_ptr<ScheduleStore> polls_;    // the default busy wait
  std::unique_ptr<ScheduleStore> updates_;  // the update's own, shorter busy wait
  std::unique_ptr<HistoryStore> history_;   // writes the kept reports
  std::unique_ptr<JobClaims> claims_;       // on a shared server only
  std::chrono::steady_clock::time_point nextRenewal_;
  bool timeBaseTold_ = false;
  double nextPoll_ = 0.0;
  std::string lastPollError_;
  std::set<ScheduleId> invalidReported_;  // ids traced as invalid
};

}  // namespace veltrane
