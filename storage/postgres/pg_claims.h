// Claiming work on a shared PostgreSQL store, so that each due schedule runs
// on exactly one of several service instances. A claim is one transaction:
// it takes a job whose holder's lease ran out (that instance died, or lost
// the server), or else the longest-due schedule that moves on, locked FOR
// UPDATE SKIP LOCKED so that two instances never take the same row; it writes
// the schedule's next run and records the job as held by this instance until
// the lease ends (in the server's time), under a fencing token one greater
// than the job's last. Due times and next runs are on the server's local
// time. Only once that commits may the caller start the job. The holder
// renews the leases of the jobs it holds, each under the token it holds it
// by, and the claims it holds on single sites of running jobs. Errors throw
// PgError.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "storage/job_claims.h"
#include "storage/postgres/pg_database.h"

namespace veltrane {

std::optional<ClaimedJob> ClaimJob(PgDatabase& database, const LeaseHolder& holder,
                                   const InvalidSchedule& invalid);

// Moves on the lease of each of `leases` that `holder` still holds by that
// token; gives those jobs. A job another instance took over is not among them.
std::vector<std::int64_t> RenewLeases(PgDatabase& database, const LeaseHolder& holder,
                                      const std::vector<JobLease>& leases);

// The same for the sites of running jobs that `holder` claimed; gives the
// claims still held, unended, by that token.
std::vector<SiteLease> RenewSiteLeases(PgDatabase& database, const LeaseHolder& holder,
                                       const std::vector<SiteLease>& leases);

// The server's zone and local time: what due times are judged by.
ServerTime ServerTimeBase(PgDatabase& database);

}  // namespace veltrane
