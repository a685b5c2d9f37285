// The stores veltrane-admin works on: the SQLite files in DIR/db, which must
// exist (init makes them), opened read-only for reading and waiting up to ten
// seconds for the service's lock. Each store call stands alone. A store is
// checked as it is made (its file and its table: for SitesOf, the sites';
// the accounts are checked by the commands that use them). CommandErrorOf
// maps a storage failure to the tool's errors: a file that is missing, is
// not a database, is damaged or lacks a table, and a change a constraint
// refuses, are data errors; a busy or unwritable file is a failure.
#pragma once

#include <memory>

#include "admin/admin_context.h"
#include "admin/admin_error.h"
#include "storage/history_store.h"
#include "storage/journal_report.h"
#include "storage/press_release_store.h"
#include "storage/schedule_store.h"
#include "storage/site_store.h"

namespace veltrane::admin {

std::unique_ptr<PressReleaseStore> ReleasesOf(const AdminContext& context);
std::unique_ptr<SiteStore> SitesOf(const AdminContext& context);
std::unique_ptr<ScheduleStore> SchedulesOf(const AdminContext& context);
std::unique_ptr<HistoryStore> HistoryOf(const AdminContext& context);
// The history and journal report, once the history table is known to be there.
std::unique_ptr<JournalReport> JournalReportOf(const AdminContext& context);

CommandError CommandErrorOf(const StorageError& error);

}  // namespace veltrane::admin
