#include "admin/admin_stores.h"

#include "storage/stores.h"

namespace veltrane::admin {
namespace {

// The service polls the same file once a minute; wait for it rather than fail.
constexpr SqliteStoreOptions kOptions{10000, true};

}  // namespace

std::unique_ptr<PressReleaseStore> ReleasesOf(const AdminContext& context) {
  auto store = MakePressReleaseStore(context.Stores(), kOptions);
  store->Check();
  return store;
}

std::unique_ptr<SiteStore> SitesOf(const AdminContext& context) {
  auto store = MakeSiteStore(context.Stores(), kOptions);
  store->CheckSites();
  return store;
}

std::unique_ptr<ScheduleStore> SchedulesOf(const AdminContext& context) {
  auto store = MakeScheduleStore(context.Stores(), kOptions);
  store->Check();
  return store;
}

std::unique_ptr<HistoryStore> HistoryOf(const AdminContext& context) {
  auto store = MakeHistoryStore(context.Stores(), kOptions);
  store->Check();
  return store;
}

std::unique_ptr<JournalReport> JournalReportOf(const AdminContext& context) {
  HistoryOf(context);
  return MakeJournalReport(context.Stores(), kOptions);
}

CommandError CommandErrorOf(const StorageError& error) {
  const std::string& where = error.Where();
  switch (error.What()) {
    case StorageError::Kind::Missing:
      return CommandError(kExitData,
                          where + " does not exist (create it with 'veltrane-admin init')");
    case StorageError::Kind::Directory: return CommandError(kExitData, where + " is a directory");
    case StorageError::Kind::MissingTable:
      return CommandError(
          kExitData, where + " has no table '" + error.Detail() + "' (not a Veltrane database?)");
    case StorageError::Kind::NotADatabase:
      return CommandError(kExitData, where + " is not an SQLite database");
    case StorageError::Kind::Damaged:
      return CommandError(kExitData, where + " is damaged: " + error.Detail());
    case StorageError::Kind::Refused: return CommandError(kExitData, where + ": " + error.Detail());
    case StorageError::Kind::Busy:
      return CommandError(kExitFailure, where + " is locked by another program; try again");
    default: break;  // any other failure
  }
  return CommandError(kExitFailure, where + ": " + error.Detail());
}

}  // namespace veltrane::admin
