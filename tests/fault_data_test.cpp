// The built service when its data misbehaves: a database locked while the
// history row or the next run is written, db/ missing, vt.dat broken, a full
// disk, bad schedule rows, and a kill in the middle of a job. The service stays
// up, starts a job only once its schedule has been moved on, and leaves one
// history row per job.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>

#include "tests/support/fault_harness.h"
#include "tests/support/fault_host.h"
#include "tests/support/fault_servers.h"
#include "tests/support/write_lock.h"

namespace veltrane::testing {
namespace {

using std::chrono::seconds;

// Runs SQL on a database file through a connection of its own.
bool RunSql(const std::string& path, const std::string& sql) {
  sqlite3* connection = nullptr;
  const bool ran = sqlite3_open(path.c_str(), &connection) == SQLITE_OK &&
                   sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(connection);
  return ran;
}

// A write transaction held open: readers go on, writers wait.
class HeldTransaction {
 public:
  explicit HeldTransaction(const std::string& path) {
    sqlite3_open(path.c_str(), &connection_);
    held_ = sqlite3_exec(connection_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~HeldTransaction() { sqlite3_close(connection_); }
  HeldTransaction(const HeldTransaction&) = delete;
  HeldTransaction& operator=(const HeldTransaction&) = delete;
  bool Held() const { return held_; }
  void Commit() { sqlite3_exec(connection_, "COMMIT", nullptr, nullptr, nullptr); }

 private:
  sqlite3* connection_ = nullptr;
  bool held_ = false;
};

// The time the service is given to show it survives a fault: a few polls.
constexpr seconds kFaultWindow{3};
// Generous for the short jobs here.
constexpr seconds kJobBound{60};

bool JobStarted(const FaultHarness& harness) {
  return harness.TraceCount("Submission started") > 0;
}

TEST(FaultData, HistoryInsertWaitsOutALockedDatabase) {
  FaultHarness harness;
  std::mutex mutex;
  std::unique_ptr<WriteLock> lock;
  harness.AddFormSite("first");
  harness.server.Serve("/last/", FormPage("/last/post"));
  // The answer that ends the job's last site comes with vt.dat locked for a while.
  harness.server.Handle("/last/post", [&](const httplib::Request&, httplib::Response& response) {
    std::lock_guard guard(mutex);
    lock = std::make_unique<WriteLock>(harness.databases.MainPath());
    lock->ReleaseAfter(std::chrono::milliseconds(4000));
    response.set_content(kThanks, "text/html");
  });
  harness.AddSite("last", harness.server.Url("/last/"), FormScript());
  harness.AddSchedule(1, "Locked history", {"first", "last"});
  harness.AddSentinel();

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));
  {
    std::lock_guard guard(mutex);
    ASSERT_TRUE(lock && lock->Locked());
  }
  EXPECT_EQ(1, harness.HistoryRows("Locked history"));
  EXPECT_EQ((std::map<std::string, std::string>{{"first", "Completed"}, {"last", "Completed"}}),
            harness.Outcomes("Locked history"));
  EXPECT_EQ(1, harness.HistoryRows("Sentinel"));
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultData, JobStartsOnlyOnceTheNextRunIsWritten) {
  FaultHarness harness;
  harness.AddFormSite("only");
  harness.AddSchedule(1, "Locked next run", {"only"});
  harness.AddSentinel();
  HeldTransaction writer(harness.databases.MainPath());
  ASSERT_TRUE(writer.Held());

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitUntilShown());
  EXPECT_FALSE(harness.WaitFor([&] { return JobStarted(harness); }, kFaultWindow))
      << "a job started while its next run could not be written";
  writer.Commit();
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));

  EXPECT_EQ(1, harness.HistoryRows("Locked next run"));
  EXPECT_EQ(1, harness.TraceCount("Submission started for ID : 1"));
  EXPECT_EQ(1, harness.Requests("/only/post"));
  EXPECT_GT(std::stod(harness.databases.MainScalar("SELECT next FROM schedule WHERE id = 1")),
            40000.0);
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultData, MissingDatabaseDirectoryEndsTheStartUntilItIsThere) {
  FaultHarness harness;
  harness.AddFormSite("only");
  harness.AddSchedule(1, "Late database", {"only"});
  harness.AddSentinel();
  const std::string db = harness.databases.Directory() + "/db";
  std::filesystem::rename(db, db + "-later");

  // A service that could only fail every poll says why and exits, for systemd to restart it.
  harness.Start(3000);
  EXPECT_TRUE(harness.WaitFor([&] { return !harness.service.Running(); }, kJobBound));
  EXPECT_EQ(1, harness.TraceCount("veltrane: no database folder " + db));
  EXPECT_FALSE(std::filesystem::exists(db)) << "the service made db/ itself";
  std::filesystem::rename(db + "-later", db);
  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));

  EXPECT_EQ(1, harness.HistoryRows("Late database"));
  EXPECT_EQ(1, harness.Requests("/only/post"));
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultData, BrokenMainDatabaseRunsNoJobUntilItIsMended) {
  FaultHarness harness;
  harness.AddFormSite("only");
  harness.AddSchedule(1, "Mended database", {"only"});
  harness.AddSentinel();
  const std::string path = harness.databases.MainPath();
  const std::string good = harness.databases.Directory() + "/good.dat";
  std::filesystem::copy_file(path, good);
  // Each stage replaces vt.dat at once, as a restore from a backup would.
  const auto install = [&](const std::string& sql) {
    const std::string next = path + ".next";
    std::filesystem::copy_file(good, next, std::filesystem::copy_options::overwrite_existing);
    EXPECT_TRUE(sql.empty() || RunSql(next, sql)) << sql;
    std::filesystem::rename(next, path);
  };
  // It starts on a database without schedules: one broken at start ends the start.
  install("DELETE FROM schedule");
  harness.Start(3000);
  ASSERT_TRUE(harness.WaitUntilShown());
  std::ofstream(path, std::ios::trunc) << std::string(4096, '#');
  const std::vector<std::pair<std::string, std::string>> stages = {
      {"not a database", ""},
      {"no schedule table", "DROP TABLE schedule"},
      {"no frequency column",
       "CREATE TABLE narrow AS SELECT id,name,subscription,time,next FROM schedule;"
       "DROP TABLE schedule; ALTER TABLE narrow RENAME TO schedule"}};
  for (const auto& [stage, sql] : stages) {
    if (!sql.empty()) install(sql);
    EXPECT_FALSE(harness.WaitFor([&] { return JobStarted(harness) || !harness.service.Running(); },
                                 kFaultWindow))
        << stage;
  }
  install("");
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));

  EXPECT_EQ(1, harness.HistoryRows("Mended database"));
  EXPECT_EQ(1, harness.Requests("/only/post"));
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultData, FullDiskStartsNoJobUntilThereIsRoom) {
  FaultHarness harness;
  harness.AddFormSite("only");
  harness.AddSchedule(1, "Full disk", {"only"});
  harness.AddSentinel();
  FullFilesystem full(harness.databases.Directory() + "/db");
  if (!full.Mounted()) GTEST_SKIP() << "no small filesystem over db/: " << full.Error();

  harness.Start(3000);
  // The next run cannot be written: no job may start, at no poll.
  EXPECT_TRUE(harness.WaitFor(
      [&] {
        return harness.TraceCount("Next run of schedule") >= 2 ||
               harness.TraceCount("Submission started") >= 2;
      },
      seconds(30)));
  EXPECT_TRUE(harness.service.Running());
  EXPECT_EQ(0, harness.TraceCount("Submission started"));
  full.MakeRoom();
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));

  EXPECT_EQ(1, harness.HistoryRows("Full disk"));
  EXPECT_EQ(1, harness.TraceCount("Submission started for ID : 1"));
  EXPECT_EQ(1, harness.Requests("/only/post"));
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultData, BadScheduleRowsLeaveTheGoodOnesRunning) {
  FaultHarness harness;
  // A schedule table without the integer key, as an old tool may have made it.
  harness.databases.Main(
      "DROP TABLE schedule; CREATE TABLE schedule (id, name TEXT, subscription TEXT, "
      "frequency INTEGER, start_date INTEGER, end_date INTEGER, time REAL, next REAL)");
  for (const char* site : {"null-id", "text-id", "odd-frequency", "daily", "weekly"})
    harness.AddFormSite(site);
  // The bad rows are the longest due, so they come first.
  harness.databases.Main(
      "INSERT INTO pressrelease (name) VALUES ('Bad');"
      "INSERT INTO schedule (id,name,subscription,frequency,time,next) VALUES "
      "(NULL,'Bad','null-id',1,0,1), ('abc','Bad','text-id',1,0,1),"
      "(7,'Odd frequency','odd-frequency',9,0,1)");
  harness.AddSchedule(1, "Daily", {"daily"}, 2);
  harness.databases.Main("INSERT INTO pressrelease (name) VALUES ('Odd frequency')");
  harness.AddSchedule(2, "Weekly", {"weekly"}, 3);

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitFor(
      [&] { return harness.HistoryRows("Daily") > 0 && harness.HistoryRows("Weekly") > 0; }));
  EXPECT_TRUE(harness.service.Running());
  EXPECT_EQ(1, harness.HistoryRows("Daily"));
  EXPECT_EQ(1, harness.HistoryRows("Weekly"));
  EXPECT_EQ(0, harness.HistoryRows("Bad"));
  EXPECT_EQ(0, harness.Requests("/null-id/"));
  EXPECT_EQ(0, harness.Requests("/text-id/"));
  EXPECT_TRUE(harness.KillLeavesNothing());
}

// Killed while a site's release post is unanswered: after the restart that
// site is reported, not posted again, and the rest of the job runs.
TEST(FaultData, SiteKilledWhileSubmittingIsReportedNotPostedAgain) {
  FaultHarness harness;
  for (const char* site : {"one", "three"}) harness.AddFormSite(site);
  harness.server.Serve("/two/", FormPage("/two/post"));
  harness.AddSite("two", harness.server.Url("/two/"), FormScript());
  harness.AddSchedule(1, "Unknown", {"one", "two", "three"});
  harness.AddSentinel();
  HeldResponse post(harness.server, "/two/post", kThanks);

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitFor([&] { return harness.Requests("/two/post") > 0; }));
  EXPECT_TRUE(harness.KillLeavesNothing()) << "the killed service left processes behind";
  post.Open();

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));
  EXPECT_EQ(
      (std::map<std::string, std::string>{{"one", "Completed"},
                                          {"two", "Outcome unknown (interrupted while submitting)"},
                                          {"three", "Completed"}}),
      harness.Outcomes("Unknown"));
  for (const char* posted : {"/one/post", "/two/post", "/three/post"})
    EXPECT_EQ(1, harness.Requests(posted)) << posted;
  EXPECT_EQ(1, harness.Requests("/two/")) << "the site was run again";
  EXPECT_EQ(1, harness.TraceCount("Outcome unknown (interrupted while submitting) : two"));
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultData, JobKilledMidwayIsFinishedAfterARestart) {
  FaultHarness harness;
  for (const char* site : {"one", "two", "four"}) harness.AddFormSite(site);
  harness.server.Serve("/three/post", kThanks);
  harness.AddSite("three", harness.server.Url("/three/"), FormScript());
  harness.AddSchedule(1, "Resumed", {"one", "two", "three", "four"});
  harness.AddSentinel();
  // The first visit of site three is held until the service is gone.
  HeldResponse three(harness.server, "/three/", FormPage("/three/post"));

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitFor([&] { return harness.Requests("/three/") > 0; }));
  ASSERT_EQ(1, harness.Requests("/two/post"));
  EXPECT_TRUE(harness.KillLeavesNothing()) << "the killed service left processes behind";
  three.Open();
  EXPECT_EQ(0, harness.HistoryRows("Resumed"));

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));

  EXPECT_EQ(1, harness.HistoryRows("Resumed"));
  EXPECT_EQ((std::map<std::string, std::string>{{"one", "Completed"},
                                                {"two", "Completed"},
                                                {"three", "Completed"},
                                                {"four", "Completed"}}),
            harness.Outcomes("Resumed"));
  const std::string report = harness.Report("Resumed");
  const auto resumed = report.find("Interrupted and resumed");
  EXPECT_NE(std::string::npos, resumed) << report;
  EXPECT_GT(resumed, report.rfind(" - ")) << "the note comes after the site lists\n" << report;
  // Sites that had ended are not submitted again.
  for (const char* site : {"/one/", "/two/"}) EXPECT_EQ(1, harness.Requests(site)) << site;
  for (const char* post : {"/one/post", "/two/post", "/three/post", "/four/post"})
    EXPECT_EQ(1, harness.Requests(post)) << post;
  EXPECT_EQ(1, harness.HistoryRows("Sentinel"));
  EXPECT_TRUE(harness.KillLeavesNothing());
}

}  // namespace
}  // namespace veltrane::testing
