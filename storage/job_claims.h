// JobClaims: taking work from a store that several service instances share,
// so that each due schedule runs on exactly one of them. A claim is one
// transaction: it takes a job whose holder's lease ran out (that instance
// died), or else the longest-due schedule that moves on; it writes that
// schedule's next run and records the job as held by this instance until its
// lease ends. Only once the claim has committed may the job start. While it
// runs, the instance renews the leases of the jobs it holds. Every failure is
// a StorageError. One thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/schedule_rule.h"
#include "storage/held_jobs.h"
#include "storage/schedule_store.h"
#include "storage/storage_error.h"

namespace veltrane {

// A running service instance as the holder of the jobs it claimed.
struct LeaseHolder {
  std::string name;       // unique per running instance (InstanceName)
  int leaseSeconds = 60;  // how long a claim or renewal holds
  // The jobs it holds, shared by its threads; none: nothing is kept of its claims.
  std::shared_ptr<HeldJobs> jobs;
};

struct ClaimedJob {
  ScheduleId scheduleId = 0;
  std::int64_t jobId = 0;       // 0 when alreadyPending
  std::int64_t token = 0;       // the job's fencing token under this claim
  bool takenOver = false;       // an unfinished job of an instance whose lease ran out
  bool alreadyPending = false;  // next run written; the schedule's last job is still
                                // held by a live instance, so nothing is to start
};

// Called for each due schedule whose next run would not move on; it is skipped.
using InvalidSchedule = std::function<void(ScheduleId id, int frequency, double time)>;

class JobClaims {
 public:
  virtual ~JobClaims() = default;
  virtual std::optional<ClaimedJob> Claim(const InvalidSchedule& invalid) = 0;
  // Moves on the lease of every job this instance holds; gives how many it
  // still holds. Holding none, it asks the server nothing.
  virtual int RenewLeases() = 0;
  virtual ServerTime TimeBase() = 0;
};

}  // namespace veltrane
