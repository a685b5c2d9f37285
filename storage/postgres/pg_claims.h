// Claiming work on a shared PostgreSQL store, so that each due schedule runs
// on exactly one of several service instances. A claim is one transaction:
// it takes a job whose holder's lease ran out (that instance died), or else
// the longest-due schedule that moves on, locked FOR UPDATE SKIP LOCKED so
// that two instances never take the same row; it writes the schedule's next
// run and records the job as held by this instance until the lease ends (in
// the server's time). Only once that commits may the caller start the job.
// The holder renews its lease while the job runs. Errors throw PgError.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/schedule_rule.h"
#include "storage/postgres/pg_database.h"

namespace veltrane {

struct LeaseHolder {
  std::string name;       // unique per running instance (InstanceName)
  int leaseSeconds = 60;  // how long a claim or renewal holds
};

struct ClaimedJob {
  ScheduleId scheduleId = 0;
  std::int64_t jobId = 0;
  bool takenOver = false;       // an unfinished job of an instance whose lease ran out
  bool alreadyPending = false;  // next run written, but the schedule's last job is
                                // still held by a live instance: nothing to start
};

// Called for each due schedule whose next run would not move on; it is skipped.
using InvalidSchedule = std::function<void(ScheduleId id, int frequency, double time)>;

// `now` is the instance's clock in days, as schedule.next is kept.
std::optional<ClaimedJob> ClaimJob(PgDatabase& database, double now, const LeaseHolder& holder,
                                   const InvalidSchedule& invalid);

// Moves the job's lease on; false when the job is no longer held by `holder`
// (another instance took it over, or it has finished).
bool RenewLease(PgDatabase& database, std::int64_t jobId, const LeaseHolder& holder);

// "<host name>:<process id>:<start time in ms>": distinct for every instance
// on every machine, and readable in the job table.
std::string InstanceName();

}  // namespace veltrane
