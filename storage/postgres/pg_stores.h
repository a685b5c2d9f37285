// The stores over a PostgreSQL server that several service instances share:
// the same tables and columns as the SQLite files, in one schema. Each call
// opens its own connection and closes it, so a server that restarted is
// simply reached again by the next call. A server that cannot be reached is a
// StorageError of kind Unreachable. The history store and the claims know
// this instance by `holder`: a job's history row is written only by the
// instance that holds the job, and the unfinished jobs it lists are the ones
// this instance holds.
#pragma once

#include <memory>
#include <string>

#include "storage/history_store.h"
#include "storage/job_claims.h"
#include "storage/postgres/pg_claims.h"
#include "storage/press_release_store.h"
#include "storage/schedule_store.h"
#include "storage/site_store.h"

namespace veltrane {

std::unique_ptr<ScheduleStore> MakePgScheduleStore(std::string url);
std::unique_ptr<PressReleaseStore> MakePgPressReleaseStore(std::string url);
std::unique_ptr<SiteStore> MakePgSiteStore(std::string url);
// `spoolDirectory` keeps history rows that could not be written (Keep).
std::unique_ptr<HistoryStore> MakePgHistoryStore(std::string url, LeaseHolder holder,
                                                 std::string spoolDirectory);
std::unique_ptr<JobClaims> MakePgJobClaims(std::string url, LeaseHolder holder);

// Creates the tables that are missing.
void CreatePgSchema(const std::string& url);

}  // namespace veltrane
