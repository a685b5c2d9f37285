// Claiming work on a shared PostgreSQL store, so that each due schedule runs
// on exactly one of several service instances. A claim is one transaction:
// it takes a job whose holder's lease ran out (that instance died), or else
// the longest-due schedule that moves on, locked FOR UPDATE SKIP LOCKED so
// that two instances never take the same row; it writes the schedule's next
// run and records the job as held by this instance until the lease ends (in
// the server's time). Only once that commits may the caller start the job.
// The holder renews its leases while its jobs run. Errors throw PgError.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "storage/job_claims.h"
#include "storage/postgres/pg_database.h"

namespace veltrane {

// `now` is the instance's clock in days, as schedule.next is kept.
std::optional<ClaimedJob> ClaimJob(PgDatabase& database, double now, const LeaseHolder& holder,
                                   const InvalidSchedule& invalid);

// Moves on the lease of every unfinished job `holder` holds; gives how many.
// A job another instance took over is no longer among them.
int RenewLeases(PgDatabase& database, const LeaseHolder& holder);

}  // namespace veltrane
