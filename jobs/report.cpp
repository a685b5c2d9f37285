#include "jobs/report.h"

#include <memory>

#include "jobs/job_data.h"
#include "platform/locale_dates.h"
#include "platform/number_text.h"
#include "storage/stores.h"

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

bool SaveReport(const JobState& state, const DatabasePaths& paths, TraceSink& trace,
                const Clock& clock, std::int64_t journalJob) {
  const std::unique_ptr<HistoryStore> history = MakeHistoryStore(paths);
  return SaveReport(state, *history, trace, clock, journalJob);
}

bool SaveReport(const JobState& state, HistoryStore& history, TraceSink& trace, const Clock& clock,
                std::int64_t journalJob) {
  HistoryRow row;
  row.name = state.PressReleaseName;
  const std::vector<std::string> completed = state.outcome.CompletedSites();
  const std::vector<std::string> failed = state.outcome.FailedSites();
  row.subscription = SiteListValue(completed, failed);
  row.content =
      BuildReportText(state.PressReleaseName, ShortDateLongTimeText(clock.Now()), completed, failed,
                      state.outcome.FailedReasons(), state.outcome.Resumed);
  row.status = ReportStatus(completed, failed);
  row.time = LocaleNumberText(clock.Now());
  try {
    if (history.Append(row, journalJob, clock.Now())) return true;
    trace.TraceLine("Report of job " + std::to_string(journalJob) +
                    " not written: another instance holds the job now and reports it");
    return false;
  } catch (const StorageError& error) {
    const std::string kept = history.Keep(row, journalJob, clock.Now());
    trace.TraceLine(kept.empty() ? "The report could not be kept either; it is lost"
                                 : "Report kept in " + kept + " until it can be written");
    trace.TraceLine(DatabaseErrorText(error));
    return false;
  }
}

}  // namespace veltrane
