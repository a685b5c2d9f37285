// The report's queries, written once over the seam. Sites are ordered here,
// byte by byte, since a server's collation may order names otherwise than a file.
#include "storage/journal_report.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/number_text.h"
#include "storage/postgres/pg_session.h"
#include "storage/sqlite_database.h"
#include "storage/store_database.h"

namespace veltrane {
namespace {

template <typename Item>
void SortBySite(std::vector<Item>& items) {
  std::sort(items.begin(), items.end(),
            [](const Item& a, const Item& b) { return a.site < b.site; });
}

class JournalReportOver : public JournalReport {
 public:
  explicit JournalReportOver(DatabaseRef database) : database_(std::move(database)) {}

  std::vector<HistoryEntry> History(const HistoryFilter& filter) override {
    const auto db = database_->Open(sql::Access::Read);
    const std::string id = db->InsertionOrder("", "id");
    std::string sql = "SELECT " + id + ", time, name, status, subscription FROM history";
    if (filter.failedOnly) sql += " WHERE status IN ('Failed', 'Partial')";
    sql += " ORDER BY " + id + " DESC";
    // The time is the text of a day number, with a point or a comma: it is
    // compared here, so the limit is applied here too.
    sql::Values params;
    if (filter.limit > 0 && !filter.since) {
      sql += " LIMIT ?";
      params.emplace_back(filter.limit);
    }
    const sql::Rows rows = db->Query(sql, params);
    std::vector<HistoryEntry> entries;
    for (int row = 0; row < rows.Count(); ++row) {
      if (filter.limit > 0 && static_cast<int>(entries.size()) == filter.limit) break;
      if (filter.since) {
        const std::optional<double> time = ParseNumberText(rows.Text(row, 1));
        if (!time || *time < *filter.since) continue;
      }
      entries.push_back(
          {rows.Integer(row, 0),
           {rows.Text(row, 2), rows.Text(row, 1), rows.Text(row, 3), "", rows.Text(row, 4)}});
    }
    return entries;
  }

  std::vector<FailingSite> FailingSites(int runs) override {
    const auto db = database_->Open(sql::Access::Read);
    const std::set<std::string> columns = db->Columns("job_site");
    if (columns.empty()) return {};
    // The failures after the last completion, or all of them when there was none.
    const sql::Rows failing = db->Query(
        "SELECT s.site, count(*), max(c.completed) FROM job_site s LEFT JOIN "
        "(SELECT site, max(ended) AS completed FROM job_site WHERE status = 'Completed' "
        "GROUP BY site) c ON c.site = s.site "
        "WHERE s.status <> 'Completed' AND (c.completed IS NULL OR s.ended > c.completed) "
        "GROUP BY s.site HAVING count(*) >= ?",
        {std::max(runs, 1)});
    if (failing.Empty()) return {};
    const std::string screenshot = columns.count("screenshot") ? "s.screenshot" : "''";
    const sql::Rows newest = db->Query(
        "SELECT site, reason, ended, last_url, screenshot FROM (SELECT s.site, s.reason, "
        "s.ended, s.last_url, " +
        screenshot +
        " AS screenshot, ROW_NUMBER() OVER (PARTITION BY s.site ORDER BY s.ended DESC, " +
        db->InsertionOrder("s.", "job_id") + " DESC) AS newest FROM job_site s) r " +
        "WHERE newest = 1");
    std::map<std::string, int> newestRow;
    for (int row = 0; row < newest.Count(); ++row) newestRow[newest.Text(row, 0)] = row;

    std::vector<FailingSite> sites;
    for (int row = 0; row < failing.Count(); ++row) {
      FailingSite site;
      site.site = failing.Text(row, 0);
      site.failuresInARow = static_cast<int>(failing.Integer(row, 1));
      if (!failing.IsNull(row, 2)) site.lastCompleted = failing.Real(row, 2);
      if (const auto found = newestRow.find(site.site); found != newestRow.end()) {
        site.lastReason = newest.Text(found->second, 1);
        site.lastEnded = newest.Real(found->second, 2);
        site.lastUrl = newest.Text(found->second, 3);
        site.lastScreenshot = newest.Text(found->second, 4);
      }
      sites.push_back(std::move(site));
    }
    SortBySite(sites);
    return sites;
  }

  std::vector<SiteStats> Stats(double since) override {
    const auto db = database_->Open(sql::Access::Read);
    if (db->Columns("job_site").empty()) return {};
    const sql::Rows counts = db->Query(
        "SELECT site, count(*), sum(CASE WHEN status = 'Completed' THEN 1 ELSE 0 END) "
        "FROM job_site WHERE ended >= ? GROUP BY site",
        {since});
    const sql::Rows reasons = db->Query(
        "SELECT site, reason, count(*), max(ended) FROM job_site "
        "WHERE ended >= ? AND status <> 'Completed' GROUP BY site, reason",
        {since});
    // Per site: the row of its most common reason, the newest of equals.
    std::map<std::string, int> common;
    for (int row = 0; row < reasons.Count(); ++row) {
      const auto [found, added] = common.emplace(reasons.Text(row, 0), row);
      const int best = found->second;
      if (!added && (reasons.Integer(row, 2) > reasons.Integer(best, 2) ||
                     (reasons.Integer(row, 2) == reasons.Integer(best, 2) &&
                      reasons.Real(row, 3) > reasons.Real(best, 3))))
        found->second = row;
    }
    std::vector<SiteStats> sites;
    for (int row = 0; row < counts.Count(); ++row) {
      SiteStats site;
      site.site = counts.Text(row, 0);
      site.runs = static_cast<int>(counts.Integer(row, 1));
      site.completed = static_cast<int>(counts.Integer(row, 2));
      site.failed = site.runs - site.completed;
      if (const auto found = common.find(site.site); found != common.end()) {
        site.commonReason = reasons.Text(found->second, 1);
        site.commonReasonCount = static_cast<int>(reasons.Integer(found->second, 2));
      }
      sites.push_back(std::move(site));
    }
    SortBySite(sites);
    return sites;
  }

  std::vector<JobSiteCell> JobCells(const std::vector<std::int64_t>& historyIds) override {
    if (historyIds.empty()) return {};
    const auto db = database_->Open(sql::Access::Read);
    if (!db->Columns("job").count("history_id") || db->Columns("job_site").empty()) return {};
    // The jobs first, then their sites by the site table's key: joined the
    // other way round, SQLite walks every site of every job.
    std::string sql =
        "SELECT j.history_id, s.position, s.site, s.status, s.reason FROM job_site s "
        "JOIN job j ON j.id = s.job_id WHERE s.job_id IN (SELECT id FROM job WHERE history_id IN (";
    sql::Values params;
    for (const std::int64_t id : historyIds) {
      sql += params.empty() ? "?" : ",?";
      params.emplace_back(id);
    }
    const sql::Rows rows = db->Query(sql + ")) ORDER BY j.history_id, s.position", params);
    std::vector<JobSiteCell> cells;
    cells.reserve(rows.Count());
    for (int row = 0; row < rows.Count(); ++row)
      cells.push_back({rows.Integer(row, 0), static_cast<int>(rows.Integer(row, 1)),
                       rows.Text(row, 2), rows.Text(row, 3) == "Completed", rows.Text(row, 4)});
    return cells;
  }

 private:
  DatabaseRef database_;
};

}  // namespace

std::unique_ptr<JournalReport> MakeJournalReport(const DatabasePaths& paths,
                                                 SqliteStoreOptions options) {
  DatabaseRef database = paths.server.empty() ? MakeSqliteDatabase(paths.main, options)
                                              : MakeServerDatabase(paths.server);
  return std::make_unique<JournalReportOver>(std::move(database));
}

}  // namespace veltrane
