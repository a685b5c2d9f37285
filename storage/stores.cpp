#include "storage/stores.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "storage/postgres/pg_session.h"
#include "storage/postgres/pg_stores.h"
#include "storage/sqlite_database.h"
#include "storage/store_database.h"

namespace veltrane {
namespace {

DatabaseRef MainDatabase(const DatabasePaths& paths, SqliteStoreOptions options) {
  if (!paths.server.empty()) return MakeServerDatabase(paths.server);
  return MakeSqliteDatabase(paths.main, options);
}

}  // namespace

std::unique_ptr<ScheduleStore> MakeScheduleStore(const DatabasePaths& paths,
                                                 SqliteStoreOptions options) {
  return MakeScheduleStore(MainDatabase(paths, options));
}

std::unique_ptr<PressReleaseStore> MakePressReleaseStore(const DatabasePaths& paths,
                                                         SqliteStoreOptions options) {
  return MakePressReleaseStore(MainDatabase(paths, options));
}

std::unique_ptr<SiteStore> MakeSiteStore(const DatabasePaths& paths, SqliteStoreOptions options) {
  const DatabaseRef main = MainDatabase(paths, options);
  if (!paths.server.empty()) return MakeSiteStore(main, main);
  return MakeSiteStore(MakeSqliteDatabase(paths.subscription, options), main);
}

std::unique_ptr<HistoryStore> MakeHistoryStore(const DatabasePaths& paths,
                                               SqliteStoreOptions options) {
  std::optional<LeaseHolder> holder;
  if (!paths.server.empty()) holder = ThisInstance();
  return MakeHistoryStore(MainDatabase(paths, options),
                          std::filesystem::path(paths.main).parent_path().string(), holder);
}

std::unique_ptr<JobClaims> MakeJobClaims(const DatabasePaths& paths) {
  if (paths.server.empty()) return nullptr;
  return MakePgJobClaims(paths.server, ThisInstance());
}

const LeaseHolder& ThisInstance() {
  static const LeaseHolder holder = [] {
    LeaseHolder made{InstanceName(), 60, nullptr};
    if (const char* seconds = std::getenv("VELTRANE_LEASE_SECONDS");
        seconds && std::atoi(seconds) > 0)
      made.leaseSeconds = std::atoi(seconds);
    made.jobs = std::make_shared<HeldJobs>(made.leaseSeconds);
    return made;
  }();
  return holder;
}

std::string InstanceName() {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const auto started = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return std::string(host) + ":" + std::to_string(getpid()) + ":" + std::to_string(started.count());
}

}  // namespace veltrane
