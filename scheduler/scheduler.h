// CScheduler: the schedule thread. Once a minute it finds the longest-due
// schedule in the main database, hands its id to a ScheduleQueue and moves the
// schedule's next-run time forward. It owns its own database connections, one
// per poll and one per update, and talks to the window only through
// QueueSchedule. Start() runs it on a detached thread that frees it when it ends.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/day_clock.h"
#include "platform/stop_request.h"
#include "scheduler/schedule_queue.h"

namespace veltrane {

struct SchedulerTiming {
  std::chrono::milliseconds idleSleep{1000};      // between looks at the clock
  int updateBusyWait = 5000;                      // ms SQLite waits inside the update
  std::chrono::milliseconds busyRetryPause{100};  // between busy update attempts
  int busyRetryBudget = 600;
  double pollInterval = 1.0 / 1440.0;  // days between the starts of two polls
};

class CScheduler {
 public:
  static constexpr double kPollInterval = SchedulerTiming{}.pollInterval;  // one minute in days

  CScheduler(ScheduleQueue& queue, const Clock& clock, std::string databasePath,
             SchedulerTiming timing = {});

  // Runs the thread body on a detached thread that owns the scheduler. The
  // queue and clock must outlive it; `stop` ends it and reports its end.
  static void Start(ScheduleQueue& queue, const Clock& clock, std::string databasePath,
                    std::shared_ptr<StopRequest> stop, SchedulerTiming timing = {});

  // The thread body: polls at once, then a minute after each poll began.
  void Run(const StopRequest& stop);

  // One poll: queue the longest-due schedule and advance its next-run time.
  void PollSchedules();

  // Writes schedule.next, retrying while the database is busy. Open failures
  // and other errors give false.
  bool UpdateNextRun(const std::string& id, double next);

  double NextPoll() const { return nextPoll_; }

 private:
  ScheduleQueue& queue_;
  const Clock& clock_;
  std::string databasePath_;
  SchedulerTiming timing_;
  double nextPoll_ = 0.0;
};

}  // namespace veltrane
