// ServiceStatus: what the service manager (a ServiceNotifier) learns of the
// service. Ready once the schedule thread's first poll has run (the store was
// opened before start-up went on), then one line on what it does: the job
// and the sites in hand (one per lane that runs one), or idle with the next
// run and what keeps schedules from running. Refresh runs after every event of the job (JobHost::OnChanged)
// and once a second for the schedule thread's news; a line is sent only when
// it changed. With an InstancePublisher, each refresh also hands it the
// instance's facts for the store's instance table. User-interface thread only.
#pragma once

#include <optional>
#include <string>

#include "app/instance_publisher.h"
#include "jobs/job_host.h"
#include "platform/service_notifier.h"
#include "platform/ui_timer.h"
#include "scheduler/schedule_queue.h"

namespace veltrane {

// Where a running job is: site `number` (from 1) of `count`.
struct JobProgress {
  ScheduleId schedule = 0;
  std::string pressRelease;
  std::string site;
  int number = 0;
  int count = 0;
};

// "Running schedule 3 (Launch): site 2 of 5, example"
std::string RunningStatusText(const JobProgress& progress);
// "idle, next run at 2024-05-01 09:30:00" (or "idle" without a next run),
// then "; " and the problem when something keeps schedules from running.
std::string IdleStatusText(std::optional<double> nextRun, const std::string& problem);

class ServiceStatus {
 public:
  ServiceStatus(ServiceNotifier& notifier, JobHost& host, ScheduleInbox& inbox,
                InstancePublisher* publisher = nullptr);
  ~ServiceStatus();
  ServiceStatus(const ServiceStatus&) = delete;
  ServiceStatus& operator=(const ServiceStatus&) = delete;

  void Refresh();

 private:
  // The line for now; none between two sites of a job, which keeps the last.
  std::optional<std::string> Current();
  // The job, the polls and the queue as the publisher wants them.
  InstanceFacts Facts();

  ServiceNotifier& notifier_;
  JobHost& host_;
  ScheduleInbox& inbox_;
  InstancePublisher* publisher_;
  std::optional<InstanceJob> job_;  // as last published
  bool ready_ = false;
  std::string sent_;
  UiTimer timer_;
};

}  // namespace veltrane
