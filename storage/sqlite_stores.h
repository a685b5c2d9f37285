// The stores over the two SQLite files beside the program (or any others):
// db/vt.dat holds the schedules, the press releases, the accounts, the
// history and the job journal; db/subscription2.dat the sites. Each call
// opens its own connection and closes it, so nothing stays open between uses.
#pragma once

#include <memory>
#include <string>

#include "storage/database_files.h"
#include "storage/history_store.h"
#include "storage/press_release_store.h"
#include "storage/schedule_store.h"
#include "storage/site_store.h"

namespace veltrane {

struct SqliteStoreOptions {
  int busyWait = 60000;  // ms a connection waits for a lock before failing as busy
  // false: a missing file is created empty (mode 0600), as the service opens
  // its files; true: the file must exist and is opened read-only for reads
  // (veltrane-admin).
  bool existingOnly = false;
};

std::unique_ptr<ScheduleStore> MakeSqliteScheduleStore(std::string mainPath,
                                                       SqliteStoreOptions options = {});
std::unique_ptr<PressReleaseStore> MakeSqlitePressReleaseStore(std::string mainPath,
                                                               SqliteStoreOptions options = {});
std::unique_ptr<SiteStore> MakeSqliteSiteStore(DatabasePaths paths,
                                               SqliteStoreOptions options = {});
std::unique_ptr<HistoryStore> MakeSqliteHistoryStore(std::string mainPath,
                                                     SqliteStoreOptions options = {});

}  // namespace veltrane
