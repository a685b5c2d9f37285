// HeldJobs: the jobs this service instance holds on a shared server, each
// with its fencing token (the job row's token when this instance claimed it;
// a takeover writes a greater one) and the moment, on the monotonic clock,
// from which its lease is known to run: the claim or last renewal, taken
// before the statement was sent, so that the server's lease never ends
// before that moment plus the lease. A job is held only while its lease has
// more than a margin left by that measure; one the server says is no longer
// this instance's (a renewal that misses it, a write refused) is gone at
// once. The schedule thread claims and renews, the user-interface thread
// checks and writes; every call is thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/schedule_rule.h"

namespace veltrane {

struct JobLease {
  std::int64_t job = 0;
  std::int64_t token = 0;
};

// A claim on one site of a running job (job_site_claim): the job's own
// instance and any instance that helps with it claim each site they run.
struct SiteLease {
  std::int64_t job = 0;
  int position = 0;
  std::int64_t token = 0;
  bool operator==(const SiteLease&) const = default;
};

class HeldJobs {
 public:
  using Moment = std::chrono::steady_clock::time_point;

  explicit HeldJobs(int leaseSeconds) : lease_(std::chrono::seconds(leaseSeconds)) {}

  // Job `job` of `schedule` was claimed with `token` by a statement sent at `asked`.
  void Claimed(std::int64_t job, ScheduleId schedule, std::int64_t token, Moment asked);
  // A renewal sent at `asked` for `leases` moved on those in `stillHeld`; the rest are gone.
  void Renewed(const std::vector<JobLease>& leases, const std::vector<std::int64_t>& stillHeld,
               Moment asked);
  // The job is no longer this instance's: taken over, finished, dropped or given up.
  void Forget(std::int64_t job);

  // Site `position` of `job` was claimed with `token` at `asked`; its lease
  // is renewed with the jobs' until its end is recorded or it is let go.
  void ClaimedSite(const SiteLease& site, Moment asked);
  void RenewedSites(const std::vector<SiteLease>& leases, const std::vector<SiteLease>& stillHeld,
                    Moment asked);
  void ForgetSites(std::int64_t job);  // every site of the job
  std::vector<SiteLease> SiteLeases() const;
  std::optional<std::int64_t> SiteToken(std::int64_t job, int position) const;

  // What a renewal is to move on: every job held.
  std::vector<JobLease> Leases() const;
  // The token the job was claimed with, while it is held.
  std::optional<std::int64_t> Token(std::int64_t job) const;
  // The oldest job held of `schedule` (claimed and waiting for its start).
  std::optional<std::int64_t> JobOf(ScheduleId schedule) const;
  // Held, and its lease has more than the margin left at `now`.
  bool Holds(std::int64_t job, Moment now = std::chrono::steady_clock::now()) const;

  // A lease is renewed four times per lease, and a job counts as held for
  // three quarters of one: a renewal may fail twice before the job is
  // stopped, and the last quarter is the margin for what the instance does
  // after its check (a submission, a write) before the lease would end.
  std::chrono::steady_clock::duration RenewalPeriod() const { return lease_ / 4; }
  std::chrono::steady_clock::duration HeldFor() const { return lease_ * 3 / 4; }

 private:
  struct Held {
    ScheduleId schedule = 0;
    std::int64_t token = 0;
    Moment sure;
  };

  const std::chrono::steady_clock::duration lease_;
  mutable std::mutex mutex_;
  std::map<std::int64_t, Held> jobs_;
  struct HeldSite {
    std::int64_t token = 0;
    Moment sure;
  };
  std::map<std::pair<std::int64_t, int>, HeldSite> sites_;
};

}  // namespace veltrane
