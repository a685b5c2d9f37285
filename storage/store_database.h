// The stores written once over the seam (sql_session.h), whatever database
// holds their tables. A site store reads the sites from one database and the
// accounts from another (the two SQLite files), or both from one server. The
// history store keeps the rows it cannot write in `spoolDirectory`; on a
// shared server it writes a job's history row and finish only while `holder`
// holds that job, and lists as unfinished only the jobs it holds.
// Internal to storage/: callers use stores.h.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "storage/history_store.h"
#include "storage/job_claims.h"
#include "storage/press_release_store.h"
#include "storage/schedule_store.h"
#include "storage/site_store.h"
#include "storage/sql_session.h"

namespace veltrane {

using DatabaseRef = std::shared_ptr<const sql::Database>;

std::unique_ptr<ScheduleStore> MakeScheduleStore(DatabaseRef database);
std::unique_ptr<PressReleaseStore> MakePressReleaseStore(DatabaseRef database);
std::unique_ptr<SiteStore> MakeSiteStore(DatabaseRef sites, DatabaseRef accounts);
std::unique_ptr<HistoryStore> MakeHistoryStore(DatabaseRef database, std::string spoolDirectory,
                                               std::optional<LeaseHolder> holder);

}  // namespace veltrane
