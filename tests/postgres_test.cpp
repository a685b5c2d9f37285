// The PostgreSQL connection layer against a throw-away server.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "jobs/job_journal.h"
#include "storage/postgres/database_url.h"
#include "storage/postgres/pg_claims.h"
#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_session.h"
#include "storage/postgres/pg_stores.h"
#include "storage/schema.h"
#include "storage/store_database.h"
#include "tests/support/postgres_server.h"
#include "tests/support/tcp_proxy.h"

namespace veltrane {
namespace {

TEST(DatabaseUrlTest, TheConfigurationFilesLastDatabaseUrlLineCounts) {
  EXPECT_EQ("", DatabaseUrlOf(""));
  EXPECT_EQ("", DatabaseUrlOf("# database_url = postgresql://old/db\nother = x\n"));
  EXPECT_EQ("host=/run/pg dbname=veltrane",
            DatabaseUrlOf("database_url = postgresql://a/b\r\n  database_url =  host=/run/pg "
                          "dbname=veltrane \r\n"));
}

TEST(PgDatabaseTest, BindsTextsAndNullsAndRollsBackWhatIsNotCommitted) {
  testing::PostgresServer server;
  ASSERT_TRUE(server.Running()) << server.Error();
  PgDatabase database(server.Url());
  database.ExecuteScript("CREATE TABLE t (a TEXT, b DOUBLE PRECISION); CREATE TABLE u (c TEXT)");

  // A quote in a value stays a value; NULL stays NULL.
  database.Execute("INSERT INTO t VALUES ($1, $2)", {"it's; DROP TABLE u", "0.5"});
  database.Execute("INSERT INTO t VALUES ($1, $2)", {std::nullopt, "2"});
  const PgResult rows = database.Execute("SELECT a, b FROM t ORDER BY b");
  ASSERT_EQ(2, rows.Rows());
  EXPECT_EQ("it's; DROP TABLE u", rows.Text(0, 0));
  EXPECT_DOUBLE_EQ(0.5, rows.Real(0, 1));
  EXPECT_TRUE(rows.IsNull(1, 0));

  {
    PgTransaction transaction(database);
    EXPECT_EQ(2, database.Execute("DELETE FROM t").Changes());
  }
  EXPECT_EQ(2, database.Execute("SELECT count(*) FROM t").Integer(0, 0));
  {
    PgTransaction transaction(database);
    database.Execute("DELETE FROM t WHERE a IS NULL");
    transaction.Commit();
  }
  EXPECT_EQ(1, database.Execute("SELECT count(*) FROM t").Integer(0, 0));

  try {
    database.Execute("INSERT INTO missing VALUES (1)");
    FAIL() << "no error for a missing table";
  } catch (const PgError& error) {
    EXPECT_EQ("42P01", error.SqlState());
    EXPECT_FALSE(error.Unreachable());
  }
}

TEST(PgDatabaseTest, AStoppedServerIsUnreachableAndAStartedOneServesAgain) {
  testing::PostgresServer server;
  ASSERT_TRUE(server.Running()) << server.Error();
  const std::string url = server.CreateDatabase("jobs");
  ASSERT_FALSE(url.empty()) << server.Error();
  PgDatabase database(url);
  ASSERT_TRUE(server.Stop()) << server.Error();
  try {
    database.Execute("SELECT 1");
    FAIL() << "a query on a stopped server succeeded";
  } catch (const PgError& error) {
    EXPECT_TRUE(error.Unreachable()) << error.what() << " " << error.SqlState();
  }
  EXPECT_THROW(PgDatabase{url}, PgError);
  ASSERT_TRUE(server.Start()) << server.Error();
  EXPECT_EQ(1, PgDatabase(url).Execute("SELECT 1").Integer(0, 0));
}

// The relay the shared-store tests fail one instance's connection with.
TEST(TcpProxyTest, RelaysCutsAndFreezesConnectionsToTheServer) {
  testing::PostgresServer server;
  ASSERT_TRUE(server.Running()) << server.Error();
  ASSERT_FALSE(server.CreateDatabase("relayed").empty()) << server.Error();
  testing::TcpProxy proxy(server.SocketPath());
  const std::string url =
      testing::PostgresServer::UrlThrough(proxy.Port(), "relayed") + "&connect_timeout=2";
  EXPECT_EQ(1, PgDatabase(url).Execute("SELECT 1").Integer(0, 0));
  PgDatabase held(url);
  proxy.Set(testing::TcpProxy::Mode::Cut);
  EXPECT_THROW(held.Execute("SELECT 1"), PgError);
  EXPECT_THROW(PgDatabase{url}, PgError);
  proxy.Set(testing::TcpProxy::Mode::Freeze);
  EXPECT_THROW(PgDatabase{url}, PgError);  // connect_timeout ends the wait
  proxy.Set(testing::TcpProxy::Mode::Pass);
  EXPECT_EQ(2, PgDatabase(url).Execute("SELECT 2").Integer(0, 0));
}

// A server that accepts and then says nothing holds no caller: connecting
// and waiting for an answer are bounded without a timeout in the connection
// string, and a connection given up on is not used again.
TEST(PgBoundsTest, AServerThatStopsAnsweringIsGivenUpWithinTheBounds) {
  testing::PostgresServer server;
  ASSERT_TRUE(server.Running()) << server.Error();
  ASSERT_FALSE(server.CreateDatabase("frozen").empty()) << server.Error();
  testing::TcpProxy proxy(server.SocketPath());
  const std::string url = testing::PostgresServer::UrlThrough(proxy.Port(), "frozen");
  PgDatabase held(url);
  ASSERT_EQ(1, held.Execute("SELECT 1").Integer(0, 0));

  proxy.Set(testing::TcpProxy::Mode::Freeze);
  const auto outcome = [](auto call) {
    try {
      call();
      return std::string("answered");
    } catch (const PgError& error) {
      return std::string(error.Unreachable() ? "unreachable" : error.what());
    }
  };
  auto statement =
      std::async(std::launch::async, [&] { return outcome([&] { held.Execute("SELECT 1"); }); });
  auto connection =
      std::async(std::launch::async, [&] { return outcome([&] { PgDatabase fresh(url); }); });
  const bool ended = statement.wait_for(std::chrono::seconds(60)) == std::future_status::ready &&
                     connection.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  proxy.Set(testing::TcpProxy::Mode::Pass);  // ends a wait that had no bound
  EXPECT_TRUE(ended);
  EXPECT_EQ("unreachable", statement.get());
  EXPECT_EQ("unreachable", connection.get());
  EXPECT_EQ("unreachable", outcome([&] { held.Execute("SELECT 1"); }));
  EXPECT_EQ(2, PgDatabase(url).Execute("SELECT 2").Integer(0, 0));
}

// The server itself cancels a statement that runs too long (one waiting on a
// lock that a stuck client holds, say); the connection stays usable.
TEST(PgBoundsTest, AStatementThatRunsTooLongIsCancelledByTheServer) {
  testing::PostgresServer server;
  ASSERT_TRUE(server.Running()) << server.Error();
  PgDatabase database(server.Url());
  try {
    database.Execute("SELECT pg_sleep(60)");
    FAIL() << "a statement of a minute ran to its end";
  } catch (const PgError& error) {
    EXPECT_EQ("57014", error.SqlState()) << error.what();
  }
  EXPECT_EQ(1, database.Execute("SELECT 1").Integer(0, 0));
}

// Schedules 1..count, all due at day 100, daily.
void AddDueSchedules(PgDatabase& database, int count) {
  database.ExecuteScript(schema::ServerSchema());
  for (int id = 1; id <= count; ++id)
    database.Execute("INSERT INTO schedule (id, frequency, time, next) VALUES ($1, 1, 0, 100)",
                     {std::to_string(id)});
}

// A holder that keeps its claims, as a running instance does.
LeaseHolder Holder(const std::string& name, int leaseSeconds) {
  return {name, leaseSeconds, std::make_shared<HeldJobs>(leaseSeconds)};
}

// How many schedules' next run lies a day after the server's local time now.
long long NextRunsADayOnServerTime(PgDatabase& database) {
  return database
      .Execute(std::string("SELECT count(*) FROM schedule WHERE abs(next - (") +
               schema::kServerLocalDay + " + 1)) < 0.01")
      .Integer(0, 0);
}

TEST(PgClaimsTest, ThreeInstancesClaimingAtOnceTakeEveryDueScheduleExactlyOnce) {
  testing::PostgresServer server;
  ASSERT_TRUE(server.Running()) << server.Error();
  {
    PgDatabase database(server.Url());
    AddDueSchedules(database, 30);
    // Due but never moving on: skipped, reported, and no obstacle to the rest.
    database.Execute("INSERT INTO schedule (id, frequency, time, next) VALUES (99, 7, 0, 1)");
  }
  std::mutex mutex;
  std::vector<ScheduleId> claimed;
  std::vector<ScheduleId> invalid;
  std::vector<std::thread> instances;
  for (int i = 0; i < 3; ++i) {
    instances.emplace_back([&, i] {
      PgDatabase database(server.Url());
      const LeaseHolder holder = Holder("instance " + std::to_string(i), 60);
      const auto reportInvalid = [&](ScheduleId id, int, double) {
        std::lock_guard lock(mutex);
        invalid.push_back(id);
      };
      while (const std::optional<ClaimedJob> job = ClaimJob(database, holder, reportInvalid)) {
        std::lock_guard lock(mutex);
        EXPECT_FALSE(job->takenOver || job->alreadyPending);
        EXPECT_EQ(1, job->token);
        claimed.push_back(job->scheduleId);
      }
    });
  }
  for (std::thread& instance : instances) instance.join();
  std::sort(claimed.begin(), claimed.end());
  std::vector<ScheduleId> expected(30);
  for (int i = 0; i < 30; ++i) expected[i] = i + 1;
  EXPECT_EQ(expected, claimed);
  EXPECT_FALSE(invalid.empty());
  EXPECT_TRUE(std::all_of(invalid.begin(), invalid.end(), [](ScheduleId id) { return id == 99; }));

  PgDatabase database(server.Url());
  EXPECT_EQ(30, database.Execute("SELECT count(*) FROM job").Integer(0, 0));
  EXPECT_EQ(30, NextRunsADayOnServerTime(database));
}

TEST(PgClaimsTest, AJobWhoseLeaseRanOutIsTakenOverOnceUnderAGreaterTokenAndItsOldHolderLosesIt) {
  testing::PostgresServer server;
  ASSERT_TRUE(server.Running()) << server.Error();
  PgDatabase database(server.Url());
  AddDueSchedules(database, 1);
  const LeaseHolder first = Holder("first", 60);
  // A lease of 0: takes over at once, where a longer lease would wait that
  // long after the server's start for the holders to renew.
  const LeaseHolder second = Holder("second", 0);
  const std::optional<ClaimedJob> job = ClaimJob(database, first, nullptr);
  ASSERT_TRUE(job);
  EXPECT_EQ(1, job->token);
  EXPECT_EQ(std::optional<std::int64_t>(1), first.jobs->Token(job->jobId));
  EXPECT_TRUE(first.jobs->Holds(job->jobId));
  EXPECT_EQ(std::vector<std::int64_t>{job->jobId},
            RenewLeases(database, first, first.jobs->Leases()));
  // Due again, while its job is still held: the next run moves on, no second job.
  database.Execute("UPDATE schedule SET next = 100");
  const std::optional<ClaimedJob> again = ClaimJob(database, second, nullptr);
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->alreadyPending);
  EXPECT_FALSE(ClaimJob(database, second, nullptr));

  // The first instance loses the server: its lease runs out.
  database.Execute("UPDATE job SET lease_until = now() - interval '1 second'");
  const std::optional<ClaimedJob> takenOver = ClaimJob(database, second, nullptr);
  ASSERT_TRUE(takenOver);
  EXPECT_TRUE(takenOver->takenOver);
  EXPECT_EQ(job->jobId, takenOver->jobId);
  EXPECT_EQ(1, takenOver->scheduleId);
  EXPECT_EQ(2, takenOver->token);
  // The old holder's renewal finds nothing, and it forgets the job.
  const std::vector<JobLease> oldLeases = first.jobs->Leases();
  EXPECT_TRUE(RenewLeases(database, first, oldLeases).empty());
  first.jobs->Renewed(oldLeases, {}, std::chrono::steady_clock::now());
  EXPECT_FALSE(first.jobs->Holds(job->jobId));
  EXPECT_EQ(std::vector<std::int64_t>{job->jobId},
            RenewLeases(database, second, second.jobs->Leases()));
  // Under the old token even the same holder renews nothing.
  EXPECT_TRUE(RenewLeases(database, second, {{job->jobId, 1}}).empty());
  // The server has not run for a whole lease of the first: no takeover yet.
  EXPECT_FALSE(ClaimJob(database, first, nullptr));
}

TEST(HeldJobsTest, AJobIsHeldForThreeQuartersOfItsLeaseFromItsLastRenewalOnTheMonotonicClock) {
  HeldJobs jobs(60);
  const auto claimed = std::chrono::steady_clock::now();
  jobs.Claimed(7, 3, 2, claimed);
  EXPECT_TRUE(jobs.Holds(7, claimed + std::chrono::seconds(44)));
  EXPECT_FALSE(jobs.Holds(7, claimed + std::chrono::seconds(45)));
  jobs.Renewed({{7, 2}}, {7}, claimed + std::chrono::seconds(30));
  EXPECT_TRUE(jobs.Holds(7, claimed + std::chrono::seconds(74)));
  EXPECT_EQ(std::optional<std::int64_t>(7), jobs.JobOf(3));
  // A renewal sent under an older token says nothing of the newer claim.
  jobs.Claimed(7, 3, 5, claimed + std::chrono::seconds(40));
  jobs.Renewed({{7, 2}}, {}, claimed + std::chrono::seconds(41));
  EXPECT_EQ(std::optional<std::int64_t>(5), jobs.Token(7));
  // One that misses the job: it is gone.
  jobs.Renewed({{7, 5}}, {}, claimed + std::chrono::seconds(42));
  EXPECT_FALSE(jobs.Token(7));
  EXPECT_FALSE(jobs.Holds(7, claimed + std::chrono::seconds(42)));
}

TEST(PgJournalTest, EveryWriteForAJobTakenOverIsRefusedToItsOldHolderAndLandsForTheNew) {
  testing::PostgresServer server;
  ASSERT_TRUE(server.Running()) << server.Error();
  PgDatabase database(server.Url());
  AddDueSchedules(database, 1);
  const LeaseHolder first = Holder("first", 60);
  const LeaseHolder second = Holder("second", 0);
  const auto firstStore = MakeHistoryStore(MakeServerDatabase(server.Url()), "", first);
  const auto secondStore = MakeHistoryStore(MakeServerDatabase(server.Url()), "", second);
  const std::optional<ClaimedJob> claimed = ClaimJob(database, first, nullptr);
  ASSERT_TRUE(claimed);
  const std::int64_t job = firstStore->StartJob(0, 1, "Launch", {"a", "b"}, 45000.5);
  EXPECT_EQ(claimed->jobId, job);
  SiteRecord record;
  record.site = "a";
  record.completed = true;
  EXPECT_TRUE(firstStore->RecordSite(job, 1, record));
  EXPECT_TRUE(firstStore->Holds(job));

  database.Execute("UPDATE job SET lease_until = now() - interval '1 second'");
  ASSERT_TRUE(ClaimJob(database, second, nullptr));
  record.position = 1;
  record.site = "b";
  record.reason = "from the old holder";
  EXPECT_FALSE(firstStore->RecordSite(job, 1, record));
  EXPECT_FALSE(firstStore->Holds(job));
  EXPECT_FALSE(firstStore->Append({"Launch", "45000.6", "Success", "old", "a,b"}, job, 45000.6));

  record.reason = "";
  EXPECT_TRUE(secondStore->RecordSite(job, 1, record));
  EXPECT_TRUE(secondStore->Append({"Launch", "45000.7", "Success", "new", "a,b"}, job, 45000.7));
  EXPECT_FALSE(second.jobs->Token(job));  // finished: no longer renewed
  const PgResult history = database.Execute("SELECT content FROM history");
  ASSERT_EQ(1, history.Rows());
  EXPECT_EQ("new", history.Text(0, 0));
  EXPECT_EQ("", database.Execute("SELECT reason FROM job_site WHERE position = 1").Text(0, 0));
  EXPECT_EQ(1, database
                   .Execute("SELECT count(*) FROM job WHERE finished IS NOT NULL AND "
                            "history_id IS NOT NULL")
                   .Integer(0, 0));
}

TEST(PgJournalTest, EachSiteRunsUnderOneClaimAndTheInstanceThatEndsTheLastSiteReportsTheJob) {
  testing::PostgresServer server;
  ASSERT_TRUE(server.Running()) << server.Error();
  PgDatabase database(server.Url());
  AddDueSchedules(database, 1);
  const LeaseHolder owner = Holder("owner", 60);
  const LeaseHolder helper = Holder("helper", 60);
  const auto ownerStore = MakeHistoryStore(MakeServerDatabase(server.Url()), "", owner);
  const auto helperStore = MakeHistoryStore(MakeServerDatabase(server.Url()), "", helper);
  ASSERT_TRUE(ClaimJob(database, owner, nullptr));
  const std::int64_t job = ownerStore->StartJob(0, 1, "Launch", {"a", "b", "c"}, 45000.5);
  const auto lapse = [&](int position) {
    database.Execute(
        "UPDATE job_site_claim SET lease_until = now() - interval '1 second' WHERE position = $1",
        {std::to_string(position)});
  };
  SiteRecord a, b, c;
  a.site = "a";
  b.position = 1;
  b.site = "b";
  c.position = 2;
  c.site = "c";

  EXPECT_EQ(std::vector<std::int64_t>{job}, helperStore->JobsToHelp());
  EXPECT_TRUE(ownerStore->ClaimSite(job, 0));
  EXPECT_FALSE(helperStore->ClaimSite(job, 0));
  EXPECT_TRUE(helperStore->ClaimSite(job, 1));
  EXPECT_FALSE(ownerStore->ClaimSite(job, 1));
  EXPECT_EQ(std::vector<int>{1}, ownerStore->ReadJob(job)->elsewhere);
  // Recorded in doubt before its release goes: never run again, even once its claim lapsed.
  b.reason = "Outcome unknown (interrupted while submitting)";
  EXPECT_TRUE(helperStore->RecordSiteInDoubt(job, 1, b));
  lapse(1);
  EXPECT_FALSE(ownerStore->ClaimSite(job, 1));
  EXPECT_TRUE(ownerStore->ReadJob(job)->elsewhere.empty());
  // A lapsed claim taken again: the old claimant's end is refused.
  EXPECT_TRUE(helperStore->ClaimSite(job, 2));
  lapse(2);
  EXPECT_TRUE(ownerStore->ClaimSite(job, 2));
  c.reason = "from the helper";
  EXPECT_FALSE(helperStore->RecordSite(job, 1, c));
  // The lapsed claim nobody took again still writes its site's real end.
  b.reason = "";
  b.completed = true;
  EXPECT_TRUE(helperStore->RecordSite(job, 1, b));
  // The job's holder writes its own sites, but not one another instance ended.
  EXPECT_TRUE(ownerStore->RecordSite(job, 1, a));
  c.reason = "";
  EXPECT_TRUE(ownerStore->RecordSite(job, 1, c));
  b.reason = "from the holder";
  EXPECT_FALSE(ownerStore->RecordSite(job, 1, b));

  EXPECT_TRUE(helperStore->Append({"Launch", "45000.6", "Success", "helper", "a,b,c"}, job, 1));
  EXPECT_FALSE(ownerStore->Append({"Launch", "45000.7", "Success", "owner", "a,b,c"}, job, 1));
  EXPECT_EQ("helper", database.Execute("SELECT content FROM history").Text(0, 0));
  EXPECT_EQ(1, database.Execute("SELECT count(*) FROM history").Integer(0, 0));
  EXPECT_EQ("", database.Execute("SELECT reason FROM job_site WHERE position = 1").Text(0, 0));
  EXPECT_EQ(0, database.Execute("SELECT count(*) FROM job_site_claim").Integer(0, 0));
}

TEST(PgJournalTest, ASiteEndWrittenWhileTheServerIsAwayLandsOnceItIsBack) {
  testing::PostgresServer server;
  ASSERT_TRUE(server.Running()) << server.Error();
  CreatePgSchema(server.Url());
  RecordingTrace trace;
  JobJournal journal(DatabasePaths{"/nonexistent/db/vt.dat", "", server.Url()}, trace);
  const std::int64_t job = journal.Start(0, 1, "Launch", {"a", "b"}, 45000.5);
  ASSERT_GT(job, 0);
  SiteRecord record;
  record.site = "a";
  record.completed = true;

  ASSERT_TRUE(server.Stop()) << server.Error();
  EXPECT_FALSE(journal.RecordSite(job, 1, record));
  ASSERT_EQ(1u, trace.lines.size());
  EXPECT_NE(std::string::npos, trace.lines[0].find("database server unreachable"))
      << trace.lines[0];
  ASSERT_TRUE(server.Start()) << server.Error();
  record.position = 1;
  record.site = "b";
  EXPECT_TRUE(journal.RecordSite(job, 1, record));

  const std::optional<JournalJob> read = journal.Read(job);
  ASSERT_TRUE(read);
  ASSERT_EQ(2u, read->ended.size());
  EXPECT_EQ("a", read->ended[0].site);
  EXPECT_EQ("b", read->ended[1].site);
}

}  // namespace
}  // namespace veltrane
