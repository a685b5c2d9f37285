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
#include <optional>
#include <string>

#include "platform/schedule_rule.h"
#include "storage/storage_error.h"

namespace veltrane {

// A running service instance as the holder of the jobs it claimed.
struct LeaseHolder {
  std::string name;       // unique per running instance (InstanceName)
  int leaseSeconds = 60;  // how long a claim or renewal holds
};

struct ClaimedJob {
  ScheduleId scheduleId = 0;
  std::int64_t jobId = 0;       // 0 when alreadyPending
  bool takenOver = false;       // an unfinished job of an instance whose lease ran out
  bool alreadyPending = false;  // next run written; the schedule's last job is still
                                // held by a live instance, so nothing is to start
};

// Called for each due schedule whose next run would not move on; it is skipped.
using InvalidSchedule = std::function<void(ScheduleId id, int frequency, double time)>;

class JobClaims {
 public:
  virtual ~JobClaims() = default;
  // `now` is this instance's clock in days, as schedule.next is kept.
  virtual std::optional<ClaimedJob> Claim(double now, const InvalidSchedule& invalid) = 0;
  // Moves on the lease of every unfinished job this instance holds; gives how many.
  virtual int RenewLeases() = 0;
};

}  // namespace veltrane
