// The program's stores wherever its data is: over the two SQLite files, or
// over the PostgreSQL server that DatabasePaths names. Callers use the store
// interfaces and never learn which. On a server, this running instance is
// known by ThisInstance(): the jobs it claims are held in its name.
#pragma once

#include <memory>

#include "storage/database_files.h"
#include "storage/history_store.h"
#include "storage/job_claims.h"
#include "storage/press_release_store.h"
#include "storage/schedule_store.h"
#include "storage/site_store.h"
#include "storage/sqlite_stores.h"

namespace veltrane {

// The options apply to the SQLite files only.
std::unique_ptr<ScheduleStore> MakeScheduleStore(const DatabasePaths& paths,
                                                 SqliteStoreOptions options = {});
std::unique_ptr<PressReleaseStore> MakePressReleaseStore(const DatabasePaths& paths,
                                                         SqliteStoreOptions options = {});
std::unique_ptr<SiteStore> MakeSiteStore(const DatabasePaths& paths,
                                         SqliteStoreOptions options = {});
// History rows that cannot be written wait in the db/ folder of the main file's path.
std::unique_ptr<HistoryStore> MakeHistoryStore(const DatabasePaths& paths,
                                               SqliteStoreOptions options = {});
// Null for the files: one instance owns them (its lock), so nothing is claimed.
std::unique_ptr<JobClaims> MakeJobClaims(const DatabasePaths& paths);

// This process as a holder of jobs: InstanceName(), with a lease of
// $VELTRANE_LEASE_SECONDS (60 when unset or not a positive number), and the
// jobs it holds, which its schedule thread claims and renews and its job
// writes under.
const LeaseHolder& ThisInstance();
// "<host name>:<process id>:<start time in ms>": distinct for every instance
// on every machine, and readable in the job table.
std::string InstanceName();

}  // namespace veltrane
