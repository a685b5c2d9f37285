#include "jobs/report.h"

#include <filesystem>

#include "jobs/job_data.h"
#include "jobs/job_journal.h"
#include "platform/locale_dates.h"
#include "platform/number_text.h"
#include "storage/cppsqlite3.h"
#include "storage/statement_spool.h"

namespace veltrane {
namespace {

bool NeedsQuotes(const std::string& entry) {
  for (const char c : entry) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte >= 1 && byte <= 32) || c == '"' || c == ',') return true;
  }
  return false;
}

}  // namespace

std::string QuoteSql(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size());
  for (const char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted;
}

std::string ReportStatus(const std::vector<std::string>& completedSites,
                         const std::vector<std::string>& failedSites) {
  if (failedSites.empty()) return "Success";
  return completedSites.empty() ? "Failed" : "Partial";
}

std::string CommaText(const std::vector<std::string>& entries) {
  if (entries.size() == 1 && entries[0].empty()) return "\"\"";
  std::string text;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) text += ',';
    const std::string& entry = entries[i];
    if (!NeedsQuotes(entry)) {
      text += entry;
      continue;
    }
    text += '"';
    for (const char c : entry) {
      text += c;
      if (c == '"') text += '"';
    }
    text += '"';
  }
  return text;
}

std::string SiteListValue(const std::vector<std::string>& completedSites,
                          const std::vector<std::string>& failedSites) {
  std::string value = CommaText(completedSites);
  if (!failedSites.empty()) value += "," + CommaText(failedSites);
  return value;
}

std::string BuildReportText(const std::string& pressReleaseName, const std::string& reportTime,
                            const std::vector<std::string>& completedSites,
                            const std::vector<std::string>& failedSites,
                            const std::vector<std::string>& failedReasons, bool resumed) {
  std::string report;
  const auto line = [&report](const std::string& text) { report += text + "\r\n"; };
  line("PR Scheduled Submission Report");
  line("-----------------------------");
  line("");
  line("Press Release : " + pressReleaseName);
  line("Report Time   : " + reportTime);
  line("");
  line("Complete submission : ");
  for (const std::string& site : completedSites) line(" - " + site);
  if (!failedSites.empty()) {
    line("");
    line("Failed submission : ");
    for (std::size_t i = 0; i < failedSites.size(); ++i) {
      const std::string reason = i < failedReasons.size() ? failedReasons[i] : std::string();
      line(" - " + failedSites[i] + " (" + reason + ")");
    }
  }
  if (resumed) {
    line("");
    line("Interrupted and resumed");
  }
  return report;
}

namespace {

// The row's five values as SQL literals; the time value goes in unquoted.
std::string HistoryValues(const std::string& pressReleaseName, const std::string& timeValue,
                          const std::string& status, const std::string& report,
                          const std::string& siteList) {
  return "'" + QuoteSql(pressReleaseName) + "','" + timeValue + "','" + QuoteSql(status) + "','" +
         QuoteSql(report) + "','" + QuoteSql(siteList) + "'";
}

// The history row as a spooled statement: written at most once, however often
// it runs, and never beside the row of a resumed job that wrote its own.
std::string SpooledHistoryInsert(const std::string& values, const std::string& timeValue,
                                 const std::string& report, std::int64_t journalJob, double now) {
  std::string sql =
      "BEGIN IMMEDIATE;\nINSERT INTO history (name,time,status,content,subscription) "
      "SELECT " +
      values + " WHERE NOT EXISTS (SELECT 1 FROM history WHERE time = '" + timeValue +
      "' AND content = '" + QuoteSql(report) + "')";
  if (journalJob) {
    sql += " AND NOT EXISTS (SELECT 1 FROM job WHERE id = " + std::to_string(journalJob) +
           " AND finished IS NOT NULL);\n" + JobJournal::FinishStatement(journalJob, now);
  }
  return sql + ";\nCOMMIT;\n";
}

}  // namespace

std::string BuildHistoryInsert(const std::string& pressReleaseName, const std::string& timeValue,
                               const std::string& status, const std::string& report,
                               const std::string& siteList) {
  return "INSERT INTO history (name,time,status,content,subscription) VALUES (" +
         HistoryValues(pressReleaseName, timeValue, status, report, siteList) + ")";
}

bool SaveReport(const JobState& state, const std::string& mainDatabasePath, MessageBox& messageBox,
                TraceSink& trace, const Clock& clock, std::int64_t journalJob) {
  const std::string siteList =
      SiteListValue(state.outcome.CompletedSites, state.outcome.FailedSites);
  const std::string report = BuildReportText(
      state.PressReleaseName, ShortDateLongTimeText(clock.Now()), state.outcome.CompletedSites,
      state.outcome.FailedSites, state.outcome.FailedReasons, state.outcome.Resumed);
  const std::string status = ReportStatus(state.outcome.CompletedSites, state.outcome.FailedSites);
  std::string statement;
  std::string timeValue;
  try {
    CppSQLite3DB db;
    db.Open(mainDatabasePath.c_str());
    timeValue = LocaleNumberText(clock.Now());
    statement = BuildHistoryInsert(state.PressReleaseName, timeValue, status, report, siteList);
    if (!journalJob) {
      db.RunStatement(statement.c_str());
      return true;
    }
    // A failure part-way leaves the transaction open; closing rolls it back.
    db.RunStatement("BEGIN IMMEDIATE");
    db.RunStatement(statement.c_str());
    db.RunStatement(JobJournal::FinishStatement(journalJob, clock.Now()).c_str());
    db.RunStatement("COMMIT");
    return true;
  } catch (const CppSQLite3Exception& error) {
    if (statement.empty()) {  // the open failed: show the statement all the same
      timeValue = LocaleNumberText(clock.Now());
      statement = BuildHistoryInsert(state.PressReleaseName, timeValue, status, report, siteList);
    }
    const std::string kept = SpoolStatement(
        std::filesystem::path(mainDatabasePath).parent_path().string(),
        SpooledHistoryInsert(
            HistoryValues(state.PressReleaseName, timeValue, status, report, siteList), timeValue,
            report, journalJob, clock.Now()));
    trace.TraceLine(kept.empty() ? "The report could not be kept either; it is lost"
                                 : "Report kept in " + kept + " until it can be written");
    const std::string text = DatabaseErrorText(statement, error.Code(), error.Message());
    messageBox.ShowMessage(text);
    trace.TraceLine(text);
    return false;
  }
}

}  // namespace veltrane
