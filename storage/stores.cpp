#include "storage/stores.h"

#include <cstdlib>
#include <filesystem>

#include "storage/postgres/pg_stores.h"

namespace veltrane {

std::unique_ptr<ScheduleStore> MakeScheduleStore(const DatabasePaths& paths,
                                                 SqliteStoreOptions options) {
  if (!paths.server.empty()) return MakePgScheduleStore(paths.server);
  return MakeSqliteScheduleStore(paths.main, options);
}

std::unique_ptr<PressReleaseStore> MakePressReleaseStore(const DatabasePaths& paths,
                                                         SqliteStoreOptions options) {
  if (!paths.server.empty()) return MakePgPressReleaseStore(paths.server);
  return MakeSqlitePressReleaseStore(paths.main, options);
}

std::unique_ptr<SiteStore> MakeSiteStore(const DatabasePaths& paths, SqliteStoreOptions options) {
  if (!paths.server.empty()) return MakePgSiteStore(paths.server);
  return MakeSqliteSiteStore(paths, options);
}

std::unique_ptr<HistoryStore> MakeHistoryStore(const DatabasePaths& paths,
                                               SqliteStoreOptions options) {
  if (!paths.server.empty())
    return MakePgHistoryStore(paths.server, ThisInstance(),
                              std::filesystem::path(paths.main).parent_path().string());
  return MakeSqliteHistoryStore(paths.main, options);
}

std::unique_ptr<JobClaims> MakeJobClaims(const DatabasePaths& paths) {
  if (paths.server.empty()) return nullptr;
  return MakePgJobClaims(paths.server, ThisInstance());
}

const LeaseHolder& ThisInstance() {
  static const LeaseHolder holder = [] {
    LeaseHolder made{InstanceName(), 60};
    if (const char* seconds = std::getenv("VELTRANE_LEASE_SECONDS");
        seconds && std::atoi(seconds) > 0)
      made.leaseSeconds = std::atoi(seconds);
    return made;
  }();
  return holder;
}

}  // namespace veltrane
