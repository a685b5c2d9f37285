// history list and show over the history store, which the service appends a
// row to after each job, and site history over the job journal beside it: the
// sites' outcomes with their evidence, trials sent by 'site try --submit' among them.
#include <algorithm>
#include <optional>
#include <ostream>
#include <sstream>

#include "admin/admin_error.h"
#include "admin/admin_stores.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/date_text.h"
#include "admin/json_writer.h"
#include "admin/names.h"
#include "admin/screenshots.h"
#include "admin/text_output.h"
#include "platform/text_lists.h"
#include "platform/visible_text.h"

namespace veltrane::admin {
namespace {

// The service writes the time as the text of a day number; show it as a date.
std::string TimeText(const std::string& stored) {
  const auto time = ParseStoredDayNumber(stored);
  return time ? FormatDateTime(*time) : stored;
}

// A site's evidence under a job's report: how it ended, its last page, the
// success text, its screenshot and what changed on its forms.
void PrintEvidence(std::ostream& out, const AdminContext& context,
                   const std::vector<SiteOutcome>& sites) {
  // Rows written before the journal kept evidence have none: nothing is shown.
  if (sites.empty()) return;
  out << "\nevidence:\n";
  for (const SiteOutcome& outcome : sites) {
    const SiteRecord& record = outcome.record;
    const SiteEvidence& evidence = record.evidence;
    out << "  " << record.site << ": "
        << (record.completed ? std::string("completed") : "failed (" + record.reason + ")") << "\n";
    // A page that did not load has no HTTP status, only the engine's message.
    const std::string how = evidence.networkError.empty()
                                ? "HTTP " + std::to_string(evidence.lastStatus)
                                : "network error: " + evidence.networkError;
    out << "    last page: " << (record.lastUrl.empty() ? "none" : record.lastUrl) << " (" << how
        << "), pages loaded: " << evidence.pages << "\n";
    if (!evidence.successText.empty())
      out << "    success text: \"" << evidence.successText << "\" "
          << (record.completed ? "found" : "looked for") << "\n";
    if (!evidence.screenshot.empty())
      out << "    screenshot: " << context.ShotsDirectory() << "/" << evidence.screenshot << "\n";
    if (!evidence.notes.empty()) out << "    " << evidence.notes << "\n";
  }
}

// The newest outcomes first: how many of them in a row failed.
std::size_t FailuresInARow(const std::vector<SiteOutcome>& outcomes) {
  std::size_t count = 0;
  while (count < outcomes.size() && !outcomes[count].record.completed) ++count;
  return count;
}

}  // namespace

void RunHistoryList(AdminContext& context, Arguments args) {
  const char* command = "history list";
  const CommandArgs parsed =
      ParseCommandArgs(args, {"limit", "since"}, command, {"failed", "json"});
  RequirePositional(parsed, 0, "", command);
  HistoryFilter filter;
  filter.limit = ParseCountOption(parsed, "limit", 0);
  filter.failedOnly = parsed.Flag("failed");
  if (parsed.Has("since")) {
    const std::string since = parsed.Optional("since");
    const std::optional<int> day = ParseDate(since);
    if (!day) DataError("--since " + Quoted(since) + " is not a date (YYYY-MM-DD)");
    filter.since = *day;
  }
  const std::vector<HistoryEntry> entries = JournalReportOf(context)->History(filter);
  if (parsed.Flag("json")) {
    JsonWriter json(context.io.out);
    json.BeginObject();
    json.Key("history").BeginArray();
    for (const HistoryEntry& entry : entries) {
      json.BeginObject();
      json.Key("id").Number(entry.id);
      json.Key("time").Text(TimeText(entry.row.time));
      json.Key("release").Text(entry.row.name);
      json.Key("status").Text(entry.row.status);
      json.Key("sites").Texts(ParseCommaText(entry.row.subscription));
      json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return;
  }
  std::vector<std::vector<std::string>> rows = {{"ID", "TIME", "RELEASE", "STATUS", "SITES"}};
  for (const HistoryEntry& entry : entries)
    rows.push_back({std::to_string(entry.id), TimeText(entry.row.time), entry.row.name,
                    entry.row.status, entry.row.subscription});
  PrintTable(context.io.out, std::move(rows));
}

void RunHistoryShow(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "history show");
  RequirePositional(parsed, 1, "ID", "history show");
  const long long id = ParseRowId(parsed.positional[0], "history id");
  const auto history = HistoryOf(context);
  const std::optional<HistoryEntry> entry = history->Find(id);
  if (!entry) DataError("unknown history row " + std::to_string(id));
  const HistoryRow& row = entry->row;

  // Reports hold what pages showed: the whole text is printed with its controls escaped.
  std::ostringstream out;
  out << "history " << id << ": " << row.name << ", " << TimeText(row.time) << ", " << row.status
      << "\n";
  out << "sites: " << row.subscription << "\n\n";
  for (const std::string& line : SplitLines(row.content)) out << line << "\n";

  const auto time = ParseStoredDayNumber(row.time);
  std::vector<std::string> shots;
  if (time) {
    // The job began after the row before it was written.
    std::optional<double> previousTime;
    if (const std::optional<std::string> before = history->TimeBefore(id))
      previousTime = ParseStoredDayNumber(*before);
    shots = ScreenshotsOf(context.ShotsDirectory(), ParseCommaText(row.subscription),
                          previousTime.value_or(0.0), *time);
  }
  PrintEvidence(out, context, history->JobSites(id));
  out << "\nscreenshots:" << (shots.empty() ? " none" : "") << "\n";
  for (const std::string& shot : shots) out << "  " << shot << "\n";
  context.io.out << VisibleText(out.str());
}

void RunSiteHistory(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {"limit"}, "site history");
  RequirePositional(parsed, 1, "NAME", "site history");
  const std::string& site = parsed.positional[0];
  const long long limit = parsed.Has("limit") ? ParseRowId(parsed.Optional("limit"), "limit") : 10;
  const std::vector<SiteOutcome> outcomes =
      HistoryOf(context)->SiteOutcomes(site, static_cast<int>(std::min(limit, 100000LL)));
  std::ostream& out = context.io.out;
  if (outcomes.empty()) {
    out << VisibleText(site) << ": no outcomes recorded\n";
    return;
  }
  // A site that has started to fail stands out in the first line.
  const std::size_t failures = FailuresInARow(outcomes);
  out << VisibleText(site) << ": ";
  if (failures == 0) {
    out << "completed last time\n";
  } else if (failures == outcomes.size()) {
    out << (failures == 1 ? std::string("failed the only time shown")
                          : "failed all " + std::to_string(failures) + " times shown")
        << "\n";
  } else {
    out << "FAILING: failed the last " << failures << " time" << (failures == 1 ? "" : "s")
        << ", completed before that (" << FormatDateTime(outcomes[failures].record.ended) << ")\n";
  }
  std::vector<std::vector<std::string>> rows = {
      {"ENDED", "RELEASE", "HISTORY", "STATUS", "HTTP", "PAGES", "REASON AND NOTES"}};
  for (const SiteOutcome& outcome : outcomes) {
    const SiteRecord& record = outcome.record;
    std::string why = record.reason;
    if (!record.evidence.networkError.empty())
      why += (why.empty() ? "" : "; ") + ("network error: " + record.evidence.networkError);
    if (!record.evidence.notes.empty()) why += (why.empty() ? "" : "; ") + record.evidence.notes;
    rows.push_back({FormatDateTime(record.ended), outcome.pressRelease,
                    outcome.trial       ? "trial"
                    : outcome.historyId ? std::to_string(outcome.historyId)
                                        : "-",
                    record.completed ? "Completed" : "Failed",
                    std::to_string(record.evidence.lastStatus),
                    std::to_string(record.evidence.pages), why});
  }
  PrintTable(out, std::move(rows));
}

}  // namespace veltrane::admin
