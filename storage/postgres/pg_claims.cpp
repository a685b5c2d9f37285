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
  database.Execute(
      "UPDATE job SET holder = $1, lease_until = now() + make_interval(secs => $2) WHERE id = $3",
      {holder.name, Param(std::int64_t{holder.leaseSeconds}), Param(job.jobId)});
  return job;
}

}  // namespace

std::optional<ClaimedJob> ClaimJob(PgDatabase& database, double now, const LeaseHolder& holder,
                                   const InvalidSchedule& invalid) {
  PgTransaction transaction(database);
  std::optional<ClaimedJob> job = TakeOverExpiredJob(database, holder);
  if (job) {
    transaction.Commit();
    return job;
  }
  // One row at a time, so the rows another instance looks at stay free for it.
  std::string skipped = "{}";  // the invalid ids met so far, as an array literal
  for (;;) {
    const PgResult due = database.Execute(
        "SELECT id, frequency, time FROM schedule WHERE next < $1 AND NOT (id = ANY($2::bigint[])) "
        "ORDER BY next LIMIT 1 FOR UPDATE SKIP LOCKED",
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
    if (!job->alreadyPending)
      job->jobId =
          database
              .Execute(
                  "INSERT INTO job (schedule_id, queued, holder, lease_until) "
                  "VALUES ($1, $2, $3, now() + make_interval(secs => $4)) RETURNING id",
                  {Param(id), Param(now), holder.name, Param(std::int64_t{holder.leaseSeconds})})
              .Integer(0, 0);
    transaction.Commit();
    return job;
  }
}

int RenewLeases(PgDatabase& database, const LeaseHolder& holder) {
  return database
      .Execute(
          "UPDATE job SET lease_until = now() + make_interval(secs => $1) "
          "WHERE holder = $2 AND finished IS NULL",
          {Param(std::int64_t{holder.leaseSeconds}), holder.name})
      .Changes();
}

}  // namespace veltrane

namespace veltrane {
namespace {

class PgJobClaims : public JobClaims {
 public:
  PgJobClaims(std::string url, LeaseHolder holder)
      : url_(std::move(url)), holder_(std::move(holder)) {}

  std::optional<ClaimedJob> Claim(double now, const InvalidSchedule& invalid) override {
    return pg::WithConnection(url_,
                              [&](PgDatabase& db) { return ClaimJob(db, now, holder_, invalid); });
  }

  int RenewLeases() override {
    return pg::WithConnection(url_,
                              [&](PgDatabase& db) { return veltrane::RenewLeases(db, holder_); });
  }

 private:
  std::string url_;
  LeaseHolder holder_;
};

}  // namespace

std::unique_ptr<JobClaims> MakePgJobClaims(std::string url, LeaseHolder holder) {
  return std::make_unique<PgJobClaims>(std::move(url), std::move(holder));
}

void CreatePgSchema(const std::string& url) {
  pg::WithConnection(url, [](PgDatabase& db) { db.ExecuteScript(schema::ServerSchema()); });
}

}  // namespace veltrane
