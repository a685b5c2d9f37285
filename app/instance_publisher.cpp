#include "app/instance_publisher.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <exception>
#include <filesystem>

#include "platform/version.h"
#include "storage/spool.h"
#include "storage/stores.h"

namespace veltrane {
namespace {

constexpr double kSecond = 1.0 / 86400.0;

// A short busy wait: a locked file delays the next refresh, never a job.
constexpr SqliteStoreOptions kWriteOptions{2000, false};

std::string HostName() {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  return host;
}

// A process of this host that has ended (one of another user's still runs).
bool ProcessGone(long long pid) {
  return pid > 0 && kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH;
}

bool SameSite(const InstanceJob& a, const InstanceJob& b) {
  return a.schedule == b.schedule && a.siteNumber == b.siteNumber && a.siteCount == b.siteCount &&
         a.site == b.site && a.pressRelease == b.pressRelease;
}

}  // namespace

double StaleLimit(double pollInterval) { return std::max(5 * pollInterval, 10 * kSecond); }

InstancePublisher::InstancePublisher(const DatabasePaths& paths, const Clock& clock,
                                     TraceSink& trace, double pollInterval)
    : writer_(MakeInstanceStatusWriter(paths, kWriteOptions)),
      spoolDirectory_(std::filesystem::path(paths.main).parent_path().string()),
      clock_(clock),
      trace_(trace) {
  status_.instance = ThisInstance().name;
  status_.host = HostName();
  status_.pid = getpid();
  status_.version = std::string(VeltraneVersion());
  status_.started = clock_.Now();
  status_.staleLimit = StaleLimit(pollInterval);
  thread_ = std::thread([this] { Run(); });
}

InstancePublisher::~InstancePublisher() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void InstancePublisher::Changed() {
  pending_ = true;
  wake_.notify_all();
}

void InstancePublisher::Publish(const InstanceFacts& facts) {
  const double now = clock_.Now();
  std::lock_guard lock(mutex_);
  bool changed = false;
  if (facts.polls != polls_) {
    polls_ = facts.polls;
    status_.lastPoll = now;
    status_.lastPollError = facts.pollError;
    changed = true;
  }
  if (facts.problem != problem_) {
    problem_ = facts.problem;
    if (!problem_.empty()) {
      status_.lastError = problem_;
      status_.lastErrorAt = now;
    }
    changed = true;
  }
  if (facts.job.has_value() != status_.job.has_value() ||
      (facts.job && !SameSite(*facts.job, *status_.job))) {
    status_.job = facts.job;
    if (status_.job) status_.job->siteSince = now;
    changed = true;
  }
  if (facts.queued != status_.queued) {
    status_.queued = facts.queued;
    changed = true;
  }
  if (changed) Changed();
}

void InstancePublisher::NoteError(const std::string& text) {
  const double now = clock_.Now();
  std::lock_guard lock(mutex_);
  status_.lastError = text;
  status_.lastErrorAt = now;
  Changed();
}

bool InstancePublisher::Stop(std::chrono::milliseconds bound) {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
  return finished_.wait_for(lock, bound, [this] { return done_; });
}

void InstancePublisher::Run() {
  std::string lastFailure;
  // Each failure once until the row is written again: a store that is away
  // would otherwise say so at every poll.
  auto failed = [&](const std::string& why) {
    if (why != lastFailure) trace_.TraceLine("Instance status not written : " + why);
    lastFailure = why;
  };
  auto attempt = [&](auto write) {
    try {
      write();
    } catch (const StorageError& error) {
      failed(error.Message());
    } catch (const std::exception& error) {
      failed(error.what());
    }
  };
  // Rows a killed instance of this host left are looked for at the first
  // write and then once per stale limit: one left by a quick restart turns
  // stale only after that.
  std::optional<double> staleLookedFor;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait(lock, [this] { return pending_ || stopping_; });
    if (stopping_) break;
    pending_ = false;
    InstanceStatus status = status_;
    lock.unlock();
    status.spoolBacklog = static_cast<int>(SpooledFiles(spoolDirectory_).size());
    const double now = clock_.Now();
    if (!staleLookedFor || std::fabs(now - *staleLookedFor) > status.staleLimit)
      attempt([&] {
        writer_->RemoveStale(status.host, status.instance, ProcessGone);
        staleLookedFor = now;
      });
    attempt([&] {
      writer_->Write(status, clock_.Now());
      lastFailure.clear();
    });
    lock.lock();
  }
  const std::string instance = status_.instance;
  lock.unlock();
  attempt([&] { writer_->Remove(instance); });
  lock.lock();
  done_ = true;
  finished_.notify_all();
}

}  // namespace veltrane
