// What runs next. JobStarter is what starts jobs (the job host, or a test's
// stand-in); JobDispatch decides, on each turn while no job runs, what it
// starts: a job an earlier run of the service left unfinished first, then a
// job taken over from an instance that died, then the oldest schedule id
// waiting in the schedule thread's inbox, and else, on a shared server, the
// sites of a job another instance runs. The inbox wakes it when an id comes
// in, so a due schedule does not wait for the next turn. User-interface
// thread only; the inbox is the one thing it shares with the schedule thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/schedule_rule.h"
#include "scheduler/schedule_queue.h"

namespace veltrane {

class JobStarter {
 public:
  virtual ~JobStarter() = default;
  // True while a submission job is being started or runs.
  virtual bool Busy() const = 0;
  // True when the job started (or already finished, having no sites).
  virtual bool StartSubmission(ScheduleId scheduleId) = 0;
  // Takes up a job that an earlier run left unfinished; false when none is left.
  virtual bool ResumeSubmission() = 0;
  // Takes up job `jobId`, which this instance took over from one that died on
  // a shared server; false when it could not start. None by default.
  virtual bool TakeOverSubmission(std::int64_t /*jobId*/) { return false; }
  // On a shared server, takes up the sites nobody has claimed of a job
  // another instance runs; false when there is none. None by default.
  virtual bool HelpSubmission() { return false; }
};

class JobDispatch {
 public:
  enum class Turn {
    Running,  // a job runs: nothing was looked at
    Idle,     // no job runs, and none started
    Started,  // no job ran, and one started on this turn
  };

  JobDispatch(JobStarter& jobs, ScheduleInbox& inbox);
  ~JobDispatch();
  JobDispatch(const JobDispatch&) = delete;
  JobDispatch& operator=(const JobDispatch&) = delete;

  // Runs `wake` on the user-interface thread (through the default main
  // context) after each id that comes in; empty: nothing runs.
  void WakeOnQueued(std::function<void()> wake);
  // Tells the inbox whether a job runs; when none does, starts what comes next.
  Turn Next();
  // What keeps due schedules from running; "" when nothing does.
  std::string Problem() const { return inbox_.ScheduleProblem(); }
  bool Busy() const { return jobs_.Busy(); }

 private:
  JobStarter& jobs_;
  ScheduleInbox& inbox_;
  bool resumePending_ = true;  // jobs left unfinished by an earlier run come first
  // What a wake-up queued from the schedule thread reaches: the wake handler,
  // or nothing once it was replaced or this is gone. UI thread only.
  struct WakeTarget {
    std::function<void()> wake;
  };
  std::shared_ptr<WakeTarget> wakeTarget_;
};

}  // namespace veltrane
