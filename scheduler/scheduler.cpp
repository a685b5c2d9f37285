#include "scheduler/scheduler.h"

#include <filesystem>
#include <optional>
#include <thread>
#include <utility>

#include "platform/number_text.h"
#include "platform/schedule_rule.h"
#include "storage/cppsqlite3.h"
#include "storage/database_files.h"
#include "storage/statement_spool.h"

namespace veltrane {

CScheduler::CScheduler(ScheduleQueue& queue, const Clock& clock, TraceSink& trace,
                       std::string databasePath, SchedulerTiming timing)
    : queue_(queue),
      clock_(clock),
      trace_(trace),
      databasePath_(std::move(databasePath)),
      timing_(timing) {}

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
  std::optional<ScheduleId> id;
  double next = 0.0;
  std::string pollError;
  CppSQLite3DB db;
  try {
    // An open failure (no db directory, say) is a failure of this poll only.
    db.Open(databasePath_.c_str());
    // Only rows with an integer id are due (a NULL or text id could never be
    // advanced), and the longest-due goes first, so one bad row cannot starve
    // the others.
    const std::string sql = "SELECT * FROM schedule WHERE next < " + SqlNumberText(clock_.Now()) +
                            " AND typeof(id) = 'integer' ORDER BY next";
    for (CppSQLite3Query query = db.RunQuery(sql.c_str()); !query.AtEnd(); query.Advance()) {
      const ScheduleId rowId = query.Int64Of("id", 0);
      query.TextOf("name");
      const int frequency = query.IntOf("frequency", 0);
      query.IntOf("start_date", 0);
      query.IntOf("end_date", 0);
      const double time = query.RealOf("time", 0.0);
      if (!ScheduleMovesOn(frequency, time)) {
        // It would be due again at once and submitted every poll: left as it is.
        if (invalidReported_.insert(rowId).second)
          trace_.TraceLine("Schedule " + std::to_string(rowId) +
                           " is invalid: its next run would not move on " + "(frequency " +
                           std::to_string(frequency) + ", time " + SqlNumberText(time) +
                           "); it is not run");
        continue;
      }
      invalidReported_.erase(rowId);
      id = rowId;
      next = clock_.Now() + FrequencyDays(frequency) + time;
      break;
    }
  } catch (const CppSQLite3Exception& error) {
    pollError = error.Message();
  }
  db.Close();
  if (pollError != lastPollError_) {
    // Each distinct failure is traced once, not every minute.
    if (!pollError.empty()) trace_.TraceLine("Schedule poll failed : " + pollError);
    lastPollError_ = pollError;
  }
  if (!pollError.empty()) {
    queue_.SetScheduleProblem("Schedule poll failed : " + pollError);
    return;
  }
  if (!id) {
    queue_.SetScheduleProblem("");
    return;
  }
  // Queued only once the next run is written: otherwise every poll would
  // start the same job again, and every site would get the release again.
  std::string error;
  switch (UpdateNextRun(*id, next, &error)) {
    case NextRunWrite::Failed: {
      const std::string problem = "Next run of schedule " + std::to_string(*id) + " not written (" +
                                  error +
                                  "); it is not started and is tried again at the next poll";
      trace_.TraceLine(problem);
      queue_.SetScheduleProblem(problem);
      return;
    }
    case NextRunWrite::AlreadyPending:
      trace_.TraceLine("Schedule " + std::to_string(*id) +
                       " is already queued or running; not queued again");
      queue_.SetScheduleProblem("");
      return;
    case NextRunWrite::Written:
      queue_.SetScheduleProblem("");
      queue_.QueueSchedule(*id);
      return;
  }
}

NextRunWrite CScheduler::UpdateNextRun(ScheduleId id, double next, std::string* error) {
  const auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return NextRunWrite::Failed;
  };
  CppSQLite3DB db;
  db.SetBusyWait(timing_.updateBusyWait);
  try {
    db.Open(databasePath_.c_str());
  } catch (const CppSQLite3Exception& failure) {
    return fail(failure.Message());
  }
  const std::string update =
      "UPDATE schedule SET next = " + SqlNumberText(next) + " WHERE id = " + std::to_string(id);
  const std::string queued = "INSERT INTO job (schedule_id,queued) VALUES (" + std::to_string(id) +
                             "," + SqlNumberText(clock_.Now()) + ")";
  const std::string pendingQuery =
      "SELECT count(*) FROM job WHERE schedule_id = " + std::to_string(id) +
      " AND finished IS NULL";
  int retries = 0;
  for (;;) {
    try {
      db.RunStatement(JobJournalSchema());
      db.RunStatement("BEGIN IMMEDIATE");
      db.RunStatement(update.c_str());
      CppSQLite3Query pending = db.RunQuery(pendingQuery.c_str());
      const bool alreadyPending = pending.IntOf(0, 0) > 0;
      pending.Release();
      if (!alreadyPending) db.RunStatement(queued.c_str());
      db.RunStatement("COMMIT");
      return alreadyPending ? NextRunWrite::AlreadyPending : NextRunWrite::Written;
    } catch (const CppSQLite3Exception& failure) {
      try {
        db.RunStatement("ROLLBACK");
      } catch (const CppSQLite3Exception&) {
        // No transaction was open.
      }
      if (failure.Code() != SQLITE_BUSY || retries >= timing_.busyRetryBudget)
        return fail(failure.Message());
      ++retries;
      std::this_thread::sleep_for(timing_.busyRetryPause);
    }
  }
}

}  // namespace veltrane
