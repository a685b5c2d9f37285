// The job journal's facts and fences, on the SQLite files and on a
// throw-away PostgreSQL server shared by several instances: which failures
// reach the caller, a job's interruption, records in doubt that belong to the
// instance that wrote them, and a hold asked of the server again.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "storage/sqlite_database.h"
#include "storage/store_database.h"
#include "storage/stores.h"
#include "tests/support/test_database.h"
#ifdef VELTRANE_WITH_POSTGRES
#include "storage/postgres/pg_claims.h"
#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_session.h"
#include "storage/postgres/pg_stores.h"
#include "tests/support/postgres_server.h"
#endif

namespace veltrane {
namespace {

constexpr const char* kInDoubt = "Outcome unknown (interrupted while submitting)";

SiteRecord Site(int position, const std::string& reason, bool completed = false) {
  SiteRecord record;
  record.position = position;
  record.site = "site" + std::to_string(position);
  record.reason = reason;
  record.completed = completed;
  return record;
}

std::unique_ptr<HistoryStore> FileStore(const std::string& path) {
  return MakeHistoryStore(MakeSqliteDatabase(path, {}), "", std::nullopt);
}

TEST(JournalFilesTest, AMissingJournalIsEmptyAnInterruptionIsKeptAndARecordInDoubtIsMarked) {
  testing::TestDatabases files;
  // A file made before the journal: nothing was left unfinished.
  files.Main("DROP TABLE job_site; DROP TABLE job");
  EXPECT_TRUE(FileStore(files.MainPath())->UnfinishedJobs().empty());
  // One that is no database at all is a failure, for the caller to retry.
  const std::string broken = files.Directory() + "/db/broken.dat";
  std::ofstream(broken) << std::string(4096, 'x');
  EXPECT_THROW(FileStore(broken)->UnfinishedJobs(), StorageError);

  // Journal tables as an older service made them: no interruption, no doubt.
  files.Main(
      "CREATE TABLE job (id INTEGER PRIMARY KEY, schedule_id INTEGER, name TEXT, "
      "subscription TEXT, queued REAL, started REAL, finished REAL);"
      "CREATE TABLE job_site (job_id INTEGER, schedule_id INTEGER, position INTEGER, site TEXT, "
      "status TEXT, reason TEXT, started REAL, ended REAL, last_url TEXT, "
      "PRIMARY KEY (job_id, position));"
      "INSERT INTO job (id, schedule_id, name, subscription, started) "
      "VALUES (7, 1, 'Launch', 'site0\nsite1', 45000.5)");
  const auto history = FileStore(files.MainPath());
  EXPECT_EQ(std::vector<std::int64_t>{7}, history->UnfinishedJobs());
  ASSERT_TRUE(history->ReadJob(7));
  EXPECT_FALSE(history->ReadJob(7)->interrupted);
  EXPECT_TRUE(history->MarkInterrupted(7));
  EXPECT_TRUE(history->ReadJob(7)->interrupted);
  EXPECT_EQ(HoldCheck::Held, history->CheckHold(7));

  EXPECT_TRUE(history->RecordSiteInDoubt(7, 1, Site(0, kInDoubt)));
  EXPECT_EQ("1", files.MainScalar("SELECT count(*) FROM job_site WHERE in_doubt = ''"));
  EXPECT_TRUE(history->RecordSite(7, 1, Site(0, "", true)));
  EXPECT_EQ("1", files.MainScalar("SELECT count(*) FROM job_site WHERE in_doubt IS NULL"));
  ASSERT_EQ(1u, history->ReadJob(7)->ended.size());
  EXPECT_TRUE(history->ReadJob(7)->ended[0].completed);

  ASSERT_TRUE(history->Append({"Launch", "45000.6", "Success", "", "site0,site1"}, 7, 45000.6));
  EXPECT_FALSE(history->MarkInterrupted(7));
  EXPECT_EQ("1", files.MainScalar("SELECT interrupted FROM job WHERE id = 7"));
}

#ifdef VELTRANE_WITH_POSTGRES

// A holder that keeps its claims, as a running instance does.
LeaseHolder Holder(const std::string& name, int leaseSeconds) {
  return {name, leaseSeconds, std::make_shared<HeldJobs>(leaseSeconds)};
}

// A database of its own for each test, on one server for the program.
class JournalServerTest : public ::testing::Test {
 protected:
  static testing::PostgresServer& Server() {
    static testing::PostgresServer server;  // initdb is slow
    return server;
  }

  void SetUp() override {
    ASSERT_TRUE(Server().Running()) << Server().Error();
    static int databases = 0;
    url_ = Server().CreateDatabase("journal" + std::to_string(++databases));
    ASSERT_FALSE(url_.empty()) << Server().Error();
  }

  std::unique_ptr<HistoryStore> Store(const LeaseHolder& holder) const {
    return MakeHistoryStore(MakeServerDatabase(url_), "", holder);
  }

  std::string Scalar(const std::string& sql) const {
    const PgResult rows = PgDatabase(url_).Execute(sql);
    return rows.Rows() == 0 ? "" : rows.Text(0, 0);
  }
  void Run(const std::string& sql) const { PgDatabase(url_).ExecuteScript(sql); }

  std::string url_;
};

TEST_F(JournalServerTest, UnfinishedJobsFailLoudlyAndAnInterruptionIsWrittenByTheHolderOnly) {
  const LeaseHolder owner = Holder("owner", 60);
  const LeaseHolder other = Holder("other", 0);
  const auto ownerStore = Store(owner);
  // A server without the journal, then one that cannot be reached.
  EXPECT_TRUE(ownerStore->UnfinishedJobs().empty());
  EXPECT_THROW(
      MakeHistoryStore(MakeServerDatabase(Server().Url("missing")), "", owner)->UnfinishedJobs(),
      StorageError);

  CreatePgSchema(url_);
  const std::int64_t job = ownerStore->StartJob(0, 1, "Launch", {"site0", "site1"}, 45000.5);
  EXPECT_EQ(std::vector<std::int64_t>{job}, ownerStore->UnfinishedJobs());
  EXPECT_FALSE(ownerStore->ReadJob(job)->interrupted);
  EXPECT_FALSE(Store(other)->MarkInterrupted(job));
  EXPECT_FALSE(ownerStore->ReadJob(job)->interrupted);
  EXPECT_TRUE(ownerStore->MarkInterrupted(job));
  EXPECT_TRUE(Store(other)->ReadJob(job)->interrupted);

  // Taken over: the old holder's mark no longer lands, the new holder's does.
  Run("UPDATE job SET interrupted = NULL, lease_until = now() - interval '1 second'");
  PgDatabase database(url_);
  ASSERT_TRUE(ClaimJob(database, other, nullptr));
  EXPECT_FALSE(ownerStore->MarkInterrupted(job));
  EXPECT_EQ("", Scalar("SELECT interrupted FROM job"));
  EXPECT_TRUE(Store(other)->MarkInterrupted(job));
}

TEST_F(JournalServerTest, ARecordInDoubtIsReplacedOnlyByItsOwnInstanceAndAHoldIsAskedAgain) {
  CreatePgSchema(url_);
  const LeaseHolder owner = Holder("owner", 60);
  const LeaseHolder helper = Holder("helper", 60);
  const auto ownerStore = Store(owner);
  const auto helperStore = Store(helper);
  const std::int64_t job =
      ownerStore->StartJob(0, 1, "Launch", {"site0", "site1", "site2", "site3"}, 45000.5);
  const auto inDoubtBy = [&](int position) {
    return Scalar("SELECT coalesce(in_doubt, 'none') FROM job_site WHERE position = " +
                  std::to_string(position));
  };
  const auto lapse = [&](int position) {
    Run("UPDATE job_site_claim SET lease_until = now() - interval '1 second' WHERE position = " +
        std::to_string(position));
  };

  // The helper's site in doubt, its claim let go: its real end still lands.
  ASSERT_TRUE(helperStore->ClaimSite(job, 1));
  EXPECT_TRUE(helperStore->RecordSiteInDoubt(job, 1, Site(1, kInDoubt)));
  EXPECT_EQ("helper", inDoubtBy(1));
  helperStore->ReleaseSites(job);
  lapse(1);
  // Not the holder's to replace, nor the helper's for a site it never claimed.
  EXPECT_FALSE(ownerStore->RecordSite(job, 1, Site(1, "from the holder")));
  EXPECT_FALSE(helperStore->RecordSite(job, 1, Site(3, "never claimed")));
  EXPECT_TRUE(helperStore->RecordSite(job, 1, Site(1, "", true)));
  EXPECT_EQ("none", inDoubtBy(1));
  EXPECT_EQ("Completed", Scalar("SELECT status FROM job_site WHERE position = 1"));
  EXPECT_EQ("1", Scalar("SELECT ended FROM job_site_claim WHERE position = 1"));
  // A record that ended is no longer the helper's: it stays.
  EXPECT_FALSE(helperStore->RecordSite(job, 1, Site(1, "again")));

  // The holder's renewals failed through an outage, and nobody took the job.
  ASSERT_TRUE(ownerStore->ClaimSite(job, 2));
  owner.jobs->Claimed(job, 1, 1, std::chrono::steady_clock::now() - std::chrono::minutes(5));
  Run("UPDATE job SET lease_until = now() - interval '1 second'");
  lapse(2);
  EXPECT_FALSE(ownerStore->Holds(job));
  EXPECT_EQ(HoldCheck::Held, ownerStore->CheckHold(job));
  EXPECT_TRUE(ownerStore->Holds(job));
  // The job's lease and its site's claim go on.
  EXPECT_EQ("2", Scalar("SELECT (SELECT count(*) FROM job WHERE lease_until > now()) + "
                        "(SELECT count(*) FROM job_site_claim WHERE lease_until > now())"));

  // Sites in doubt: the holder's own, and the helper's, which stays the helper's.
  EXPECT_TRUE(ownerStore->RecordSiteInDoubt(job, 1, Site(2, kInDoubt)));
  ASSERT_TRUE(helperStore->ClaimSite(job, 3));
  EXPECT_TRUE(helperStore->RecordSiteInDoubt(job, 1, Site(3, kInDoubt)));
  lapse(3);
  EXPECT_FALSE(ownerStore->RecordSite(job, 1, Site(3, "over the helper's")));
  EXPECT_EQ("helper", inDoubtBy(3));

  // Another instance takes the job over: the old holder has lost it.
  Run("UPDATE job SET lease_until = now() - interval '1 second'");
  const LeaseHolder thief = Holder("thief", 0);
  PgDatabase database(url_);
  ASSERT_TRUE(ClaimJob(database, thief, nullptr));
  EXPECT_EQ(HoldCheck::Lost, ownerStore->CheckHold(job));
  EXPECT_FALSE(ownerStore->Holds(job));
  // It leaves the job; the end of its site in doubt still lands, once.
  ownerStore->Release(job, 1);
  EXPECT_TRUE(ownerStore->RecordSite(job, 1, Site(2, "", true)));
  EXPECT_EQ("none", inDoubtBy(2));
  EXPECT_FALSE(ownerStore->RecordSite(job, 1, Site(2, "again")));
  EXPECT_EQ("Completed", Scalar("SELECT status FROM job_site WHERE position = 2"));

  // A finished job takes no more ends, not even the helper's own.
  ASSERT_TRUE(Store(thief)->Append({"Launch", "45000.6", "Failed", "", "x"}, job, 45000.6));
  EXPECT_FALSE(helperStore->RecordSite(job, 1, Site(3, "", true)));
  EXPECT_EQ("helper", inDoubtBy(3));
}

#endif

}  // namespace
}  // namespace veltrane
