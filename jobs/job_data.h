// Job data loading: the schedule row, the press release row and a
// site's subscription and account rows, read into the JobState through the
// stores (each read stands alone). Database errors become a false result, or
// for a site a load that says the store failed (never a missing row). Every
// error text goes to the trace; a site's error repeated while the job waits
// for the store is traced once. Runs on the user-interface thread; the loader
// owns its stores and holds references to the rest.
#pragma once

#include <memory>
#include <string>

#include "model/job_state.h"
#include "platform/day_clock.h"
#include "platform/schedule_rule.h"
#include "platform/trace.h"
#include "storage/stores.h"

namespace veltrane {

// What LoadSite found. SiteUrl and SiteScript come from the subscription row,
// UserName and Password from the account row; all four are cleared first, so
// a missing row leaves them empty and never another site's.
enum class SiteRows {
  Loaded,               // both rows read
  SubscriptionMissing,  // no subscription row; the account was not read
  SubscriptionError,    // database error on the subscription; the account was not read
  AccountMissing,       // subscription read, no account row
  AccountError,         // subscription read, database error on the account
};

struct SiteLoad {
  SiteRows rows = SiteRows::SubscriptionMissing;
  std::string extraData;   // the subscription row's extra_data ("" without the row)
  std::string storeError;  // the store's error message when a read failed
  bool Loaded() const { return rows == SiteRows::Loaded; }
  // The store failed: whether the rows are there is not known.
  bool StoreFailed() const {
    return rows == SiteRows::SubscriptionError || rows == SiteRows::AccountError;
  }
  bool SubscriptionFound() const {
    return rows == SiteRows::Loaded || rows == SiteRows::AccountMissing ||
           rows == SiteRows::AccountError;
  }
};

// The text traced for a database error: the statement, CR LF, the
// error code in decimal, " : ", the exception's message.
std::string DatabaseErrorText(const std::string& statement, int code, const std::string& message);

// The text for a StorageError from a store: its statement, its code and message.
std::string DatabaseErrorText(const StorageError& error);

class JobDataLoader {
 public:
  // Reads the stores at `paths` (the SQLite files, or the server).
  // A database error is traced; the job never waits on a dialog.
  JobDataLoader(const DatabasePaths& paths, TraceSink& trace, const Clock& clock = DefaultClock());

  // True when the schedule row exists and was read: PressReleaseName is then
  // overwritten and PendingSites refilled.
  bool LoadSchedule(JobState& state, ScheduleId scheduleId);

  // True when the press release row exists and was read; every press release
  // field is then overwritten. ReleaseDate is today's day number when NULL.
  bool LoadPressRelease(JobState& state, const std::string& name);

  // Reads the site's subscription row, then its account row.
  SiteLoad LoadSite(JobState& state, const std::string& siteName);

 private:
  void ReportError(const StorageError& error);
  // As ReportError, but not again while the same error repeats.
  void ReportSiteError(const StorageError& error);

  std::unique_ptr<ScheduleStore> schedules_;
  std::unique_ptr<PressReleaseStore> releases_;
  std::unique_ptr<SiteStore> sites_;
  TraceSink& trace_;
  const Clock& clock_;
  std::string lastSiteError_;  // traced by the last LoadSite that failed
};

}  // namespace veltrane
