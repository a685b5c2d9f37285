// The submission report and its history row. The text builders
// are pure; SaveReport reads the clock twice (report time, then time value)
// and appends one row through the history store. A database error is traced
// and gives false; nothing waits on a dialog. Runs on the user-interface
// thread, at the end of a job.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/job_state.h"
#include "platform/day_clock.h"
#include "platform/trace.h"
#include "storage/database_files.h"
#include "storage/history_store.h"

namespace veltrane {

// "Success" when no site failed (no sites at all included), "Failed" when at
// least one site ran and every one failed, "Partial" otherwise.
std::string ReportStatus(const std::vector<std::string>& completedSites,
                         const std::vector<std::string>& failedSites);

// The comma text of a list: entries joined by ","; an entry holding a blank, a
// control character, a double quote or a comma is put between double quotes
// with inner double quotes doubled; a list of one empty entry is `""`.
std::string CommaText(const std::vector<std::string>& entries);

// The history row's subscription value: CommaText(completed), then "," and
// CommaText(failed) when a site failed.
std::string SiteListValue(const std::vector<std::string>& completedSites,
                          const std::vector<std::string>& failedSites);

// The report, every line ending in CR LF: the seven fixed lines, one
// " - " line per completed site; then, when a site failed, an empty line,
// "Failed submission : " and one " - name (reason)" line per failed site;
// for a resumed job, an empty line and "Interrupted and resumed" last.
// failedReasons pairs with failedSites by index (a missing reason is empty).
std::string BuildReportText(const std::string& pressReleaseName, const std::string& reportTime,
                            const std::vector<std::string>& completedSites,
                            const std::vector<std::string>& failedSites,
                            const std::vector<std::string>& failedReasons, bool resumed = false);

// Builds the report from PressReleaseName, CompletedSites, FailedSites,
// FailedReasons and Resumed and inserts the history row into the database at
// the store at `paths` (or `history`). With a journal job, the job is marked finished in the same
// transaction, so both land or neither. When the insert fails, the row is kept
// (HistoryStore::Keep), to be written once by a later poll, before the error is traced. A job
// another instance took over meanwhile is not reported here, and the trace says so. True when
// the insert ran.
bool SaveReport(const JobState& state, const DatabasePaths& paths, TraceSink& trace,
                const Clock& clock = DefaultClock(), std::int64_t journalJob = 0);
bool SaveReport(const JobState& state, HistoryStore& history, TraceSink& trace, const Clock& clock,
                std::int64_t journalJob);

}  // namespace veltrane
