#include "jobs/job_data.h"

namespace veltrane {

std::string DatabaseErrorText(const std::string& statement, int code, const std::string& message) {
  return statement + "\r\n" + std::to_string(code) + " : " + message;
}

std::string DatabaseErrorText(const StorageError& error) {
  return DatabaseErrorText(error.Statement(), error.Code(), error.Message());
}

JobDataLoader::JobDataLoader(const DatabasePaths& paths, TraceSink& trace, const Clock& clock)
    : schedules_(MakeScheduleStore(paths)),
      releases_(MakePressReleaseStore(paths)),
      sites_(MakeSiteStore(paths)),
      trace_(trace),
      clock_(clock) {}

void JobDataLoader::ReportError(const StorageError& error) {
  trace_.TraceLine(DatabaseErrorText(error));
}

void JobDataLoader::ReportSiteError(const StorageError& error) {
  // A store that stays away while a site waits for it is traced once.
  std::string text = DatabaseErrorText(error);
  if (text == lastSiteError_) return;
  trace_.TraceLine(text);
  lastSiteError_ = std::move(text);
}

bool JobDataLoader::LoadSchedule(JobState& state, ScheduleId scheduleId) {
  try {
    std::optional<ScheduleRow> row = schedules_->Find(scheduleId);
    if (!row) return false;
    state.PressReleaseName = std::move(row->name);
    state.PendingSites = std::move(row->sites);
    return true;
  } catch (const StorageError& error) {
    ReportError(error);
    return false;
  }
}

bool JobDataLoader::LoadPressRelease(JobState& state, const std::string& name) {
  try {
    const std::optional<StoredRow> row = releases_->ReadRow(name);
    if (!row) return false;
    // Read into the job's release field by field: a column that fails leaves
    // the ones before it read.
    state.release.Name = name;
    ReadPressReleaseRow(*row, WholeDate(clock_.Now()), state.release);
    return true;
  } catch (const StorageError& error) {
    ReportError(error);
    return false;
  }
}

SiteLoad JobDataLoader::LoadSite(JobState& state, const std::string& siteName) {
  // Never run a site with the previous site's address, script or login.
  state.site.SiteUrl.clear();
  state.site.SiteScript.clear();
  state.site.login.UserName.clear();
  state.site.login.Password.clear();

  SiteLoad result;
  const std::string missing = "Cant find info for subscription '" + siteName + "'";
  try {
    const std::optional<StoredRow> subscription = sites_->ReadSubscription(siteName);
    if (!subscription) {
      lastSiteError_.clear();
      trace_.TraceLine(missing);
      result.rows = SiteRows::SubscriptionMissing;
      return result;
    }
    // Copied in this order: a column that fails leaves the ones before it read.
    state.site.SiteUrl = subscription->Text("url");
    state.site.SiteScript = subscription->Text("submission_data");
    // Only for the job's trace; a table without the column reads as "".
    result.extraData = subscription->TextIfAny("extra_data");
  } catch (const StorageError& error) {
    ReportSiteError(error);
    result.rows = SiteRows::SubscriptionError;
    result.storeError = error.Message();
    return result;
  }
  try {
    const std::optional<StoredRow> account = sites_->ReadLogin(siteName);
    if (!account) {
      lastSiteError_.clear();
      trace_.TraceLine(missing);
      result.rows = SiteRows::AccountMissing;
      return result;
    }
    state.site.login.UserName = account->Text("username");
    state.site.login.Password = account->Text("password");
  } catch (const StorageError& error) {
    ReportSiteError(error);
    result.rows = SiteRows::AccountError;
    result.storeError = error.Message();
    return result;
  }
  lastSiteError_.clear();
  result.rows = SiteRows::Loaded;
  return result;
}

}  // namespace veltrane
