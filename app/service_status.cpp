#include "app/service_status.h"

#include <utility>

#include "platform/stderr_trace.h"

namespace veltrane {

std::string RunningStatusText(const JobProgress& progress) {
  return "Running schedule " + std::to_string(progress.schedule) + " (" + progress.pressRelease +
         "): site " + std::to_string(progress.number) + " of " + std::to_string(progress.count) +
         ", " + progress.site;
}

std::string IdleStatusText(std::optional<double> nextRun, const std::string& problem) {
  // To the second: the trace's stamp without its milliseconds.
  std::string text =
      nextRun ? "idle, next run at " + TraceStampText(*nextRun).substr(0, 19) : "idle";
  if (!problem.empty()) text += "; " + problem;
  return text;
}

ServiceStatus::ServiceStatus(ServiceNotifier& notifier, JobHost& host, ScheduleInbox& inbox,
                             InstancePublisher* publisher)
    : notifier_(notifier),
      host_(host),
      inbox_(inbox),
      publisher_(publisher),
      timer_(1000, true, [this] { Refresh(); }) {
  host_.OnChanged([this] { Refresh(); });
}

ServiceStatus::~ServiceStatus() { host_.OnChanged(nullptr); }

namespace {

// The open site's place in its job: the sites ended so far (those of an
// earlier run too), then this one; of all of them, with the sites the other
// lanes hold and the rest.
std::pair<int, int> SiteNumberAndCount(const SubmissionJob& job) {
  const JobState& state = job.State();
  const int ended = static_cast<int>(state.outcome.Sites.size());
  return {ended + 1, ended + job.SitesInHand() + static_cast<int>(state.PendingSites.size())};
}

}  // namespace

std::optional<std::string> ServiceStatus::Current() {
  const SubmissionJob& job = host_.Job();
  const JobState& state = job.State();
  if (!state.JobRunning) return IdleStatusText(inbox_.NextRun(), inbox_.ScheduleProblem());
  const std::string sites = job.OpenSites();
  if (sites.empty()) return std::nullopt;
  const auto [number, count] = SiteNumberAndCount(job);
  return RunningStatusText({job.Schedule(), state.PressReleaseName, sites, number, count});
}

InstanceFacts ServiceStatus::Facts() {
  const SubmissionJob& job = host_.Job();
  const JobState& state = job.State();
  if (!state.JobRunning) {
    job_.reset();
  } else if (const std::string sites = job.OpenSites(); !sites.empty()) {
    const auto [number, count] = SiteNumberAndCount(job);
    job_ = InstanceJob{job.Schedule(), "", state.PressReleaseName, number, count, sites};
  } else if (!job_ || job_->schedule != job.Schedule()) {
    // Its data is being read, or its first site is about to start.
    job_ = InstanceJob{job.Schedule(),
                       "",
                       state.PressReleaseName,
                       0,
                       static_cast<int>(state.PendingSites.size()),
                       ""};
  }
  // Between two sites the last one stays: the next starts at once.
  return {inbox_.PollCount(), inbox_.PollError(), inbox_.ScheduleProblem(), job_, inbox_.Pending()};
}

void ServiceStatus::Refresh() {
  if (publisher_) publisher_->Publish(Facts());
  if (!ready_ && inbox_.HasPolled()) {
    ready_ = true;
    notifier_.Ready();
  }
  // Until the first poll the next run and any problem are unknown.
  if (!ready_) return;
  const std::optional<std::string> text = Current();
  if (!text || *text == sent_) return;
  sent_ = *text;
  notifier_.ShowStatus(sent_);
}

}  // namespace veltrane
