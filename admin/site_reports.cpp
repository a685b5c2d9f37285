#include "admin/site_reports.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <set>

#include "admin/admin_stores.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/date_text.h"
#include "admin/json_writer.h"
#include "admin/text_output.h"
#include "platform/number_text.h"

namespace veltrane::admin {
namespace {

constexpr int kStatsDays = 30;

std::string Outcomes(int count) {
  return std::to_string(count) + (count == 1 ? " outcome" : " outcomes");
}

// A screenshot's path as 'history show' prints it; none when the outcome has none.
std::optional<std::string> ShotPath(const AdminContext& context, const std::string& name) {
  if (name.empty()) return std::nullopt;
  return context.ShotsDirectory() + "/" + name;
}

std::optional<std::string> OptionalTime(const std::optional<double>& time) {
  if (!time) return std::nullopt;
  return FormatDateTime(*time);
}

// "75%", "66.7%": the share of completed runs, to a tenth of a percent.
std::string Percent(double rate) { return SqlNumberText(std::round(rate * 1000.0) / 10.0) + "%"; }

}  // namespace

void PrintFailingSites(AdminContext& context, int runs, bool json) {
  // A site removed since cannot be mended: only the sites there now are shown.
  std::set<std::string> present;
  for (const SiteEntry& site : SitesOf(context)->List()) present.insert(site.name);
  std::vector<FailingSite> sites = JournalReportOf(context)->FailingSites(runs);
  std::erase_if(sites, [&](const FailingSite& site) { return !present.count(site.site); });

  if (json) {
    JsonWriter out(context.io.out);
    out.BeginObject();
    out.Key("runs").Number(runs);
    out.Key("sites").BeginArray();
    for (const FailingSite& site : sites) {
      out.BeginObject();
      out.Key("name").Text(site.site);
      out.Key("failedInARow").Number(site.failuresInARow);
      out.Key("lastRun").Text(FormatDateTime(site.lastEnded));
      out.Key("lastReason").Text(site.lastReason);
      out.Key("lastUrl").Text(site.lastUrl);
      out.Key("lastCompleted").OptionalText(OptionalTime(site.lastCompleted));
      out.Key("screenshot").OptionalText(ShotPath(context, site.lastScreenshot));
      out.EndObject();
    }
    out.EndArray();
    out.EndObject();
    return;
  }
  if (sites.empty()) {
    context.io.out << "no site failed its last " << (runs == 1 ? "outcome" : Outcomes(runs))
                   << "\n";
    return;
  }
  std::vector<std::vector<std::string>> rows = {
      {"NAME", "FAILED IN A ROW", "LAST RUN", "LAST COMPLETED", "LAST REASON", "SCREENSHOT"}};
  for (const FailingSite& site : sites)
    rows.push_back({site.site, std::to_string(site.failuresInARow), FormatDateTime(site.lastEnded),
                    OptionalTime(site.lastCompleted).value_or("never"), site.lastReason,
                    ShotPath(context, site.lastScreenshot).value_or("-")});
  PrintTable(context.io.out, std::move(rows));
}

void RunSiteStats(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {"days"}, "site stats", {"json"});
  RequirePositional(parsed, 0, "", "site stats");
  const int days = ParseCountOption(parsed, "days", kStatsDays);
  const double since = context.io.clock.Now() - days;
  const std::vector<SiteStats> sites = JournalReportOf(context)->Stats(since);

  if (parsed.Flag("json")) {
    JsonWriter out(context.io.out);
    out.BeginObject();
    out.Key("days").Number(days);
    out.Key("since").Text(FormatDateTime(since));
    out.Key("sites").BeginArray();
    for (const SiteStats& site : sites) {
      out.BeginObject();
      out.Key("name").Text(site.site);
      out.Key("runs").Number(site.runs);
      out.Key("completed").Number(site.completed);
      out.Key("failed").Number(site.failed);
      out.Key("successRate").Real(static_cast<double>(site.completed) / site.runs);
      out.Key("commonReason")
          .OptionalText(site.failed ? std::optional(site.commonReason) : std::nullopt);
      out.Key("commonReasonCount").Number(site.commonReasonCount);
      out.EndObject();
    }
    out.EndArray();
    out.EndObject();
    return;
  }
  std::ostream& out = context.io.out;
  out << "outcomes that ended since " << FormatDateTime(since) << " (" << days
      << (days == 1 ? " day" : " days") << ")\n";
  if (sites.empty()) {
    out << "no outcomes\n";
    return;
  }
  std::vector<std::vector<std::string>> rows = {
      {"NAME", "RUNS", "COMPLETED", "FAILED", "SUCCESS", "MOST COMMON REASON"}};
  for (const SiteStats& site : sites)
    rows.push_back(
        {site.site, std::to_string(site.runs), std::to_string(site.completed),
         std::to_string(site.failed), Percent(static_cast<double>(site.completed) / site.runs),
         site.failed ? (site.commonReason.empty() ? "(no reason given)" : site.commonReason) +
                           " (" + std::to_string(site.commonReasonCount) + ")"
                     : "-"});
  PrintTable(out, std::move(rows));
}

}  // namespace veltrane::admin
