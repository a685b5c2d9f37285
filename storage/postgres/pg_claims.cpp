#include "storage/postgres/pg_claims.h"

#include <unistd.h>

#include <chrono>
#include <vector>

#include "storage/postgres/pg_store_access.h"
#include "storage/postgres/pg_stores.h"
#include "storage/schema.h"

namespace veltrane {
namespace {

using pg::Param;

// "{1,2,3}": an array parameter of one field of each lease.
template <typename Lease, typename Field>
std::string ArrayParam(const std::vector<Lease>& leases, Field field) {
  std::string text = "{";
  for (const Lease& lease : leases)
    text += (text.size() > 1 ? "," : "") + Param(static_cast<std::int64_t>(lease.*field));
  return text + "}";
}

std::optional<ClaimedJob> TakeOverExpiredJob(PgDatabase& database, const LeaseHolder& holder) {
  // For a whole lease after the server (re)started, no lease counts as run
  // out: the live holders had no server to renew on, and get that long to.
  const PgResult expired = database.Execute(
      "SELECT id, schedule_id FROM job WHERE finished IS NULL AND lease_until < now() "
      "AND now() - pg_postmaster_start_time() > make_interval(secs => $1) "
      "ORDER BY id LIMIT 1 FOR UPDATE SKIP LOCKED",
      {Param(std::int64_t{holder.leaseSeconds})});
  if (expired.Rows() == 0) return std::nullopt;
  ClaimedJob job;
  job.jobId = expired.Integer(0, 0);
  job.scheduleId = expired.Integer(0, 1);
  job.takenOver = true;
  // The sites the old holder ran go with the job: the new holder resumes them.
  database.Execute(
      "UPDATE job_site_claim SET lease_until = now() WHERE job_id = $1 AND ended IS NULL AND "
      "holder = (SELECT holder FROM job WHERE id = $1)",
      {Param(job.jobId)});
  // The old holder's writes name the old token: from now on they find nothing.
  job.token = database
                  .Execute(
                      "UPDATE job SET holder = $1, lease_until = now() + make_interval(secs => "
                      "$2), token = coalesce(token, 0) + 1 WHERE id = $3 RETURNING token",
                      {holder.name, Param(std::int64_t{holder.leaseSeconds}), Param(job.jobId)})
                  .Integer(0, 0);
  return job;
}

std::optional<ClaimedJob> ClaimInTransaction(PgDatabase& database, const LeaseHolder& holder,
                                             const InvalidSchedule& invalid) {
  PgTransaction transaction(database);
  std::optional<ClaimedJob> job = TakeOverExpiredJob(database, holder);
  if (job) {
    transaction.Commit();
    return job;
  }
  // One time base for every instance, whatever its own zone or clock.
  const double now = database.Execute(std::string("SELECT ") + schema::kServerLocalDay).Real(0, 0);
  // One row at a time, so the rows another instance looks at stay free for it.
  std::string skipped = "{}";  // the invalid ids met so far, as an array literal
  for (;;) {
    const PgResult due = database.Execute(
        "SELECT id, frequency, time FROM schedule WHERE next < $1 AND NOT (id = ANY($2::bigint[])) "
        "AND (disabled IS NULL OR disabled = 0) ORDER BY next LIMIT 1 FOR UPDATE SKIP LOCKED",
        {Param(now), skipped});
    if (due.Rows() == 0) return std::nullopt;
    const ScheduleId id = due.Integer(0, 0);
    const int frequency = static_cast<int>(due.Integer(0, 1));
    const double time = due.IsNull(0, 2) ? 0.0 : due.Real(0, 2);
    if (!ScheduleMovesOn(frequency, time)) {
      if (invalid) invalid(id, frequency, time);
      skipped.insert(skipped.size() - 1, (skipped.size() > 2 ? "," : "") + Param(id));
      continue;
    }
    job.emplace();
    job->scheduleId = id;
    database.Execute("UPDATE schedule SET next = $1 WHERE id = $2",
                     {Param(now + FrequencyDays(frequency) + time), Param(id)});
    job->alreadyPending =
        database
            .Execute("SELECT count(*) FROM job WHERE schedule_id = $1 AND finished IS NULL",
                     {Param(id)})
            .Integer(0, 0) > 0;
    if (!job->alreadyPending) {
      const PgResult inserted = database.Execute(
          "INSERT INTO job (schedule_id, queued, holder, lease_until, token) "
          "VALUES ($1, $2, $3, now() + make_interval(secs => $4), 1) RETURNING id, token",
          {Param(id), Param(now), holder.name, Param(std::int64_t{holder.leaseSeconds})});
      job->jobId = inserted.Integer(0, 0);
      job->token = inserted.Integer(0, 1);
    }
    transaction.Commit();
    return job;
  }
}

// Adds the columns that came after their tables (the job's token, the
// schedule's disabled mark, say) to a server made before them, so that a
// claim never fails for their lack.
void AddLaterColumns(PgDatabase& database) {
  const PgResult present = database.Execute(
      "SELECT table_name, column_name FROM information_schema.columns "
      "WHERE table_schema = current_schema() AND table_name IN ('job', 'job_site', 'schedule')");
  std::vector<schema::AddedColumn> added = schema::AddedScheduleColumns(sql::Dialect::Postgres);
  for (schema::AddedColumn& column : schema::AddedJournalColumns(sql::Dialect::Postgres))
    added.push_back(std::move(column));
  for (const schema::AddedColumn& column : added) {
    bool found = false, tableThere = false;
    for (int row = 0; row < present.Rows() && !found; ++row) {
      tableThere = tableThere || present.Text(row, 0) == column.table;
      found = present.Text(row, 0) == column.table && present.Text(row, 1) == column.name;
    }
    if (!found && tableThere) database.Execute(column.add);
  }
}

}  // namespace

std::optional<ClaimedJob> ClaimJob(PgDatabase& database, const LeaseHolder& holder,
                                   const InvalidSchedule& invalid) {
  const auto asked = std::chrono::steady_clock::now();
  std::optional<ClaimedJob> job = ClaimInTransaction(database, holder, invalid);
  if (job && job->jobId && holder.jobs)
    holder.jobs->Claimed(job->jobId, job->scheduleId, job->token, asked);
  return job;
}

std::vector<std::int64_t> RenewLeases(PgDatabase& database, const LeaseHolder& holder,
                                      const std::vector<JobLease>& leases) {
  if (leases.empty()) return {};
  const PgResult renewed = database.Execute(
      "UPDATE job SET lease_until = now() + make_interval(secs => $1) "
      "FROM unnest($3::bigint[], $4::bigint[]) AS held(id, token) "
      "WHERE job.id = held.id AND job.token = held.token AND job.holder = $2 "
      "AND job.finished IS NULL RETURNING job.id",
      {Param(std::int64_t{holder.leaseSeconds}), holder.name, ArrayParam(leases, &JobLease::job),
       ArrayParam(leases, &JobLease::token)});
  std::vector<std::int64_t> ids;
  for (int row = 0; row < renewed.Rows(); ++row) ids.push_back(renewed.Integer(row, 0));
  return ids;
}

std::vector<SiteLease> RenewSiteLeases(PgDatabase& database, const LeaseHolder& holder,
                                       const std::vector<SiteLease>& leases) {
  if (leases.empty()) return {};
  const PgResult renewed = database.Execute(
      "UPDATE job_site_claim c SET lease_until = now() + make_interval(secs => $1) "
      "FROM unnest($3::bigint[], $4::integer[], $5::bigint[]) AS held(job_id, position, token) "
      "WHERE c.job_id = held.job_id AND c.position = held.position AND c.token = held.token "
      "AND c.holder = $2 AND c.ended IS NULL RETURNING c.job_id, c.position, c.token",
      {Param(std::int64_t{holder.leaseSeconds}), holder.name, ArrayParam(leases, &SiteLease::job),
       ArrayParam(leases, &SiteLease::position), ArrayParam(leases, &SiteLease::token)});
  std::vector<SiteLease> held;
  for (int row = 0; row < renewed.Rows(); ++row)
    held.push_back({renewed.Integer(row, 0), static_cast<int>(renewed.Integer(row, 1)),
                    renewed.Integer(row, 2)});
  return held;
}

ServerTime ServerTimeBase(PgDatabase& database) {
  const PgResult row = database.Execute(schema::kServerTimeQuery);
  return {row.Text(0, 0), static_cast<int>(row.Integer(0, 1)), row.Real(0, 2)};
}

}  // namespace veltrane

namespace veltrane {
namespace {

class PgJobClaims : public JobClaims {
 public:
  PgJobClaims(std::string url, LeaseHolder holder)
      : url_(std::move(url)), holder_(std::move(holder)) {}

  std::optional<ClaimedJob> Claim(const InvalidSchedule& invalid) override {
    return pg::WithConnection(url_, [&](PgDatabase& db) {
      if (!columnsChecked_) {
        AddLaterColumns(db);
        db.ExecuteScript(schema::SiteClaimTableSchema());
      }
      columnsChecked_ = true;
      return ClaimJob(db, holder_, invalid);
    });
  }

  int RenewLeases() override {
    if (!holder_.jobs) return 0;
    const std::vector<JobLease> leases = holder_.jobs->Leases();
    const std::vector<SiteLease> sites = holder_.jobs->SiteLeases();
    if (leases.empty() && sites.empty()) return 0;
    const auto asked = std::chrono::steady_clock::now();
    std::vector<std::int64_t> held;
    std::vector<SiteLease> sitesHeld;
    pg::WithConnection(url_, [&](PgDatabase& db) {
      held = veltrane::RenewLeases(db, holder_, leases);
      sitesHeld = RenewSiteLeases(db, holder_, sites);
      return 0;
    });
    holder_.jobs->Renewed(leases, held, asked);
    holder_.jobs->RenewedSites(sites, sitesHeld, asked);
    return static_cast<int>(held.size());
  }

  ServerTime TimeBase() override { return pg::WithConnection(url_, ServerTimeBase); }

 private:
  std::string url_;
  LeaseHolder holder_;
  bool columnsChecked_ = false;
};

}  // namespace

std::unique_ptr<JobClaims> MakePgJobClaims(std::string url, LeaseHolder holder) {
  return std::make_unique<PgJobClaims>(std::move(url), std::move(holder));
}

void CreatePgSchema(const std::string& url) {
  pg::WithConnection(url, [](PgDatabase& db) { db.ExecuteScript(schema::ServerSchema()); });
}

}  // namespace veltrane
