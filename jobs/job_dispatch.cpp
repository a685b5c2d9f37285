#include "jobs/job_dispatch.h"

#include <glib.h>

#include <optional>
#include <utility>

namespace veltrane {

JobDispatch::JobDispatch(JobStarter& jobs, ScheduleInbox& inbox) : jobs_(jobs), inbox_(inbox) {}

JobDispatch::~JobDispatch() { WakeOnQueued(nullptr); }

void JobDispatch::WakeOnQueued(std::function<void()> wake) {
  using Target = std::shared_ptr<WakeTarget>;
  if (wakeTarget_) wakeTarget_->wake = nullptr;  // a wake-up still queued finds nobody
  if (!wake) {
    inbox_.SetOnQueued(nullptr);
    wakeTarget_.reset();
    return;
  }
  wakeTarget_ = std::make_shared<WakeTarget>(WakeTarget{std::move(wake)});
  // Runs on the schedule thread: it only queues an idle call on the default
  // main context, which the user-interface thread runs.
  inbox_.SetOnQueued([target = wakeTarget_] {
    auto data = std::make_unique<Target>(target);
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        +[](gpointer data) -> gboolean {
          const Target& target = *static_cast<Target*>(data);
          if (target->wake) target->wake();
          return G_SOURCE_REMOVE;
        },
        data.release(),
        +[](gpointer data) { std::unique_ptr<Target>(static_cast<Target*>(data)); });
  });
}

JobDispatch::Turn JobDispatch::Next() {
  inbox_.SetBusy(jobs_.Busy());
  if (jobs_.Busy()) return Turn::Running;
  bool started = false;
  if (resumePending_) {
    // Cleared first, so an error escaping the call does not repeat it every turn.
    resumePending_ = false;
    if (jobs_.ResumeSubmission()) {
      resumePending_ = true;
      started = true;
    }
  }
  // A job taken over from an instance that died was due before any id now waiting.
  if (!started) {
    if (const std::optional<std::int64_t> job = inbox_.TakeNextTakeover()) {
      started = jobs_.TakeOverSubmission(*job);
    } else if (const std::optional<ScheduleId> id = inbox_.TakeNextSchedule()) {
      started = jobs_.StartSubmission(*id);
    } else {
      started = jobs_.HelpSubmission();
    }
  }
  if (!started) return Turn::Idle;
  inbox_.SetBusy(true);  // claims no further work before the next turn sees the job
  return Turn::Started;
}

}  // namespace veltrane
