#include "scheduler/scheduler.h"

#include <thread>
#include <utility>

#include "platform/number_text.h"
#include "scheduler/frequency.h"
#include "storage/cppsqlite3.h"

namespace veltrane {
namespace {

bool IsIntegerText(const std::string& text) {
  std::size_t start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (start == text.size()) return false;
  for (std::size_t i = start; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

}  // namespace

CScheduler::CScheduler(ScheduleQueue& queue, const Clock& clock, std::string databasePath,
                       SchedulerTiming timing)
    : queue_(queue), clock_(clock), databasePath_(std::move(databasePath)), timing_(timing) {}

void CScheduler::Start(ScheduleQueue& queue, const Clock& clock, std::string databasePath,
                       std::shared_ptr<StopRequest> stop, SchedulerTiming timing) {
  auto scheduler = std::make_unique<CScheduler>(queue, clock, std::move(databasePath), timing);
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
  std::string id;
  double next = 0.0;
  bool haveNext = false;
  CppSQLite3DB db;
  try {
    // An open failure (no db directory, say) is a failure of this poll only.
    db.Open(databasePath_.c_str());
    // Only rows with an integer id are due (a NULL or text id could never be
    // advanced), and the longest-due goes first, so one bad row cannot starve
    // the others.
    const std::string sql = "SELECT * FROM schedule WHERE next < " + SqlNumberText(clock_.Now()) +
                            " AND typeof(id) = 'integer' ORDER BY next";
    CppSQLite3Query query = db.RunQuery(sql.c_str());
    if (!query.AtEnd()) {
      const char* idText = query.TextOf("id");
      id = idText ? idText : "";
      query.TextOf("name");
      const int frequency = query.IntOf("frequency", 0);
      query.IntOf("start_date", 0);
      query.IntOf("end_date", 0);
      const double time = query.RealOf("time", 0.0);
      queue_.QueueSchedule(id);
      next = clock_.Now() + FrequencyDays(frequency) + time;
      haveNext = true;
      query.Advance();
    }
  } catch (const CppSQLite3Exception&) {
    // Silently retried at the next poll.
  }
  db.Close();
  if (!id.empty() && haveNext) UpdateNextRun(id, next);
}

bool CScheduler::UpdateNextRun(const std::string& id, double next) {
  // The id goes into the statement unquoted: anything but an integer is refused.
  if (!IsIntegerText(id)) return false;
  CppSQLite3DB db;
  db.SetBusyWait(timing_.updateBusyWait);
  try {
    db.Open(databasePath_.c_str());
  } catch (const CppSQLite3Exception&) {
    return false;
  }
  const std::string sql = "UPDATE schedule SET next = " + SqlNumberText(next) + " WHERE id = " + id;
  int retries = 0;
  for (;;) {
    try {
      db.RunStatement(sql.c_str());
      return true;
    } catch (const CppSQLite3Exception& error) {
      if (error.Code() != SQLITE_BUSY || retries >= timing_.busyRetryBudget) return false;
      ++retries;
      std::this_thread::sleep_for(timing_.busyRetryPause);
    }
  }
}

}  // namespace veltrane
