#include "storage/held_jobs.h"

#include <algorithm>

namespace veltrane {

void HeldJobs::Claimed(std::int64_t job, ScheduleId schedule, std::int64_t token, Moment asked) {
  std::lock_guard lock(mutex_);
  jobs_[job] = {schedule, token, asked};
}

void HeldJobs::Renewed(const std::vector<JobLease>& leases,
                       const std::vector<std::int64_t>& stillHeld, Moment asked) {
  std::lock_guard lock(mutex_);
  for (const JobLease& lease : leases) {
    const auto held = jobs_.find(lease.job);
    // Claimed again meanwhile (a new token): that claim's moment stands.
    if (held == jobs_.end() || held->second.token != lease.token) continue;
    if (std::find(stillHeld.begin(), stillHeld.end(), lease.job) == stillHeld.end())
      jobs_.erase(held);
    else
      held->second.sure = std::max(held->second.sure, asked);
  }
}

void HeldJobs::Forget(std::int64_t job) {
  std::lock_guard lock(mutex_);
  jobs_.erase(job);
}

void HeldJobs::ClaimedSite(const SiteLease& site, Moment asked) {
  std::lock_guard lock(mutex_);
  sites_[{site.job, site.position}] = {site.token, asked};
}

void HeldJobs::RenewedSites(const std::vector<SiteLease>& leases,
                            const std::vector<SiteLease>& stillHeld, Moment asked) {
  std::lock_guard lock(mutex_);
  for (const SiteLease& lease : leases) {
    const auto held = sites_.find({lease.job, lease.position});
    if (held == sites_.end() || held->second.token != lease.token) continue;
    if (std::find(stillHeld.begin(), stillHeld.end(), lease) == stillHeld.end())
      sites_.erase(held);
    else
      held->second.sure = std::max(held->second.sure, asked);
  }
}

void HeldJobs::ForgetSites(std::int64_t job) {
  std::lock_guard lock(mutex_);
  std::erase_if(sites_, [job](const auto& site) { return site.first.first == job; });
}

std::vector<SiteLease> HeldJobs::SiteLeases() const {
  std::lock_guard lock(mutex_);
  std::vector<SiteLease> leases;
  for (const auto& [key, held] : sites_) leases.push_back({key.first, key.second, held.token});
  return leases;
}

std::optional<std::int64_t> HeldJobs::SiteToken(std::int64_t job, int position) const {
  std::lock_guard lock(mutex_);
  const auto held = sites_.find({job, position});
  if (held == sites_.end()) return std::nullopt;
  return held->second.token;
}

std::vector<JobLease> HeldJobs::Leases() const {
  std::lock_guard lock(mutex_);
  std::vector<JobLease> leases;
  for (const auto& [job, held] : jobs_) leases.push_back({job, held.token});
  return leases;
}

std::optional<std::int64_t> HeldJobs::Token(std::int64_t job) const {
  std::lock_guard lock(mutex_);
  const auto held = jobs_.find(job);
  if (held == jobs_.end()) return std::nullopt;
  return held->second.token;
}

std::optional<std::int64_t> HeldJobs::JobOf(ScheduleId schedule) const {
  std::lock_guard lock(mutex_);
  for (const auto& [job, held] : jobs_)
    if (held.schedule == schedule) return job;
  return std::nullopt;
}

bool HeldJobs::Holds(std::int64_t job, Moment now) const {
  std::lock_guard lock(mutex_);
  const auto held = jobs_.find(job);
  return held != jobs_.end() && now - held->second.sure < HeldFor();
}

}  // namespace veltrane
