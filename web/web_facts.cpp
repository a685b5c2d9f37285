#include "web/web_facts.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/number_text.h"
#include "storage/stores.h"

namespace veltrane::web {
namespace {

// As veltrane-admin reads: existing files only, opened read-only, and a
// wait for the service's lock rather than a failure.
constexpr SqliteStoreOptions kOptions{10000, true};

std::vector<std::int64_t> IdsOf(const std::vector<HistoryEntry>& entries) {
  std::vector<std::int64_t> ids;
  for (const HistoryEntry& entry : entries) ids.push_back(entry.id);
  return ids;
}

}  // namespace

std::optional<double> StoredTime(const std::string& text) { return ParseNumberText(text); }

std::vector<JobSummary> WebFacts::LastJobs(int jobs) const {
  const auto report = MakeJournalReport(paths_, kOptions);
  HistoryFilter filter;
  filter.limit = jobs;
  const std::vector<HistoryEntry> entries = report->History(filter);
  std::map<std::int64_t, JobSummary> summaries;
  for (const JobSiteCell& cell : report->JobCells(IdsOf(entries))) {
    JobSummary& summary = summaries[cell.historyId];
    summary.counted = true;
    ++summary.sites;
    ++(cell.completed ? summary.completed : summary.failed);
  }
  std::vector<JobSummary> summaryList;
  for (const HistoryEntry& entry : entries) {
    JobSummary summary = summaries[entry.id];
    summary.entry = entry;
    summary.time = StoredTime(entry.row.time);
    summaryList.push_back(std::move(summary));
  }
  return summaryList;
}

std::optional<JobFacts> WebFacts::Job(std::int64_t historyId) const {
  const auto history = MakeHistoryStore(paths_, kOptions);
  std::optional<HistoryEntry> entry = history->Find(historyId);
  if (!entry) return std::nullopt;
  JobFacts facts;
  facts.time = StoredTime(entry->row.time);
  facts.entry = std::move(*entry);
  facts.sites = history->JobSites(historyId);
  return facts;
}

SiteFacts WebFacts::Site(const std::string& name, int outcomes) const {
  SiteFacts facts;
  facts.name = name;
  facts.site = MakeSiteStore(paths_, kOptions)->Find(name);
  facts.outcomes = MakeHistoryStore(paths_, kOptions)->SiteOutcomes(name, outcomes);
  return facts;
}

GridFacts WebFacts::Grid(int jobs) const {
  GridFacts facts;
  const auto report = MakeJournalReport(paths_, kOptions);
  HistoryFilter filter;
  filter.limit = jobs;
  facts.jobs = report->History(filter);
  facts.cells = report->JobCells(IdsOf(facts.jobs));
  std::set<std::string> sites;
  for (std::string& site : MakeSiteStore(paths_, kOptions)->Names()) sites.insert(std::move(site));
  for (const JobSiteCell& cell : facts.cells) sites.insert(cell.site);
  facts.sites.assign(sites.begin(), sites.end());
  return facts;
}

}  // namespace veltrane::web
