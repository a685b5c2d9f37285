// Removing and retention through veltrane-admin, on the SQLite files and on a
// throw-away PostgreSQL server (when the build has PostgreSQL support): a
// disabled schedule keeps its timing and is left alone by the poll until it
// is enabled, nothing a job that has not ended uses can be removed, and
// 'history prune' removes old history with its journal rows and the
// screenshots those name, and nothing else.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "admin/admin.h"
#include "scheduler/history_keeper.h"
#include "storage/history_prune.h"
#include "storage/stores.h"
#include "tests/support/test_database.h"
#ifdef VELTRANE_WITH_POSTGRES
#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_stores.h"
#include "tests/support/postgres_server.h"
#endif

namespace veltrane {
namespace {

using testing::TestDatabases;

enum class Backend { Files, Server };

class RemovalTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::Server) {
#ifdef VELTRANE_WITH_POSTGRES
      static testing::PostgresServer server;  // one for the whole program: initdb is slow
      ASSERT_TRUE(server.Running()) << server.Error();
      static int databases = 0;
      url_ = server.CreateDatabase("removal" + std::to_string(++databases));
      ASSERT_FALSE(url_.empty()) << server.Error();
      CreatePgSchema(url_);
      std::ofstream(files.Directory() + "/veltrane.conf") << "database_url = " << url_ << "\n";
#else
      GTEST_SKIP() << "built without PostgreSQL support";
#endif
    }
    std::ofstream(files.Directory() + "/r.txt") << "name: Launch\nheadline: h\n";
    std::ofstream(files.Directory() + "/o.txt") << "name: Other\nheadline: h\n";
    std::ofstream(files.Directory() + "/s.ini") << "[STEP1]\nAPP-SuccessString=ok\n";
    ASSERT_EQ(0, Admin({"release", "add", files.Directory() + "/r.txt"})) << err;
    ASSERT_EQ(0, Admin({"release", "add", files.Directory() + "/o.txt"})) << err;
    for (const char* site : {"Alpha", "Beta"})
      ASSERT_EQ(0, Admin({"site", "add", site, "--url", "http://a/", "--script",
                          files.Directory() + "/s.ini"}))
          << err;
    ASSERT_EQ(0, Admin({"account", "set", "Alpha", "--user", "u"}, "pw\n")) << err;
    ASSERT_EQ(0, Admin({"schedule", "add", "--release", "Launch", "--sites", "Alpha,Beta",
                        "--frequency", "daily", "--first", "2099-03-26 09:30"}))
        << err;
    ASSERT_EQ(0, Admin({"schedule", "add", "--release", "Other", "--sites", "Beta", "--frequency",
                        "weekly", "--first", "2099-04-01 06:00"}))
        << err;
  }

  int Admin(std::vector<std::string> args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream outStream, errStream;
    args.insert(args.begin(), {"--dir", files.Directory()});
    const int code = admin::RunAdmin(args, {in, outStream, errStream, clock, false});
    out = outStream.str();
    err = errStream.str();
    return code;
  }

  DatabasePaths Paths() const {
    DatabasePaths paths = files.Paths();
    paths.server = url_;
    return paths;
  }

  // Runs SQL on the database that holds the main tables.
  void Sql(const std::string& sql) const {
#ifdef VELTRANE_WITH_POSTGRES
    if (!url_.empty()) return PgDatabase(url_).ExecuteScript(sql);
#endif
    files.Main(sql);
  }

  std::string Scalar(const std::string& sql) const {
#ifdef VELTRANE_WITH_POSTGRES
    if (!url_.empty()) {
      const PgResult rows = PgDatabase(url_).Execute(sql);
      return rows.Rows() == 0 ? "" : rows.Text(0, 0);
    }
#endif
    return files.MainScalar(sql);
  }

  // The schedule list without a server's line of its time, which moves on.
  std::string ScheduleList() {
    EXPECT_EQ(0, Admin({"schedule", "list"})) << err;
    return out.substr(0, out.find("Every instance runs schedules"));
  }

  // The id of the schedule the poll would take now: the files' first due
  // one, or a server's claim.
  std::optional<ScheduleId> Polled() {
#ifdef VELTRANE_WITH_POSTGRES
    if (!url_.empty()) {
      const std::optional<ClaimedJob> claimed = MakeJobClaims(Paths())->Claim({});
      return claimed ? std::optional(claimed->scheduleId) : std::nullopt;
    }
#endif
    const std::optional<DueSchedule> due =
        MakeScheduleStore(Paths())->FirstDue(clock.Now(), [](const DueSchedule&) { return true; });
    return due ? std::optional(due->id) : std::nullopt;
  }

  TestDatabases files;
  ManualClock clock{45010.5};  // 2023-03-25 12:00
  std::string out;
  std::string err;
  std::string url_;  // empty: the files
};

INSTANTIATE_TEST_SUITE_P(Backends, RemovalTest, ::testing::Values(Backend::Files, Backend::Server),
                         [](const auto& info) {
                           return info.param == Backend::Files ? "Files" : "Server";
                         });

// On a schedule table made before the mark, which the first disable adds.
TEST_P(RemovalTest, ADisabledScheduleKeepsItsTimingAndIsLeftAloneUntilEnabled) {
  Sql("ALTER TABLE schedule DROP COLUMN disabled");
  ASSERT_EQ(0, Admin({"schedule", "disable", "1"})) << err;
  EXPECT_EQ("disabled schedule 1: the service does not run it until 'schedule enable 1'\n", out);
  ASSERT_EQ(0, Admin({"schedule", "run-now", "1"})) << err;
  EXPECT_EQ(
      "veltrane-admin: warning: schedule 1 is disabled: it runs once enabled ('schedule enable "
      "1')\n",
      err);
  const std::string disabled = ScheduleList();
  EXPECT_EQ(std::string::npos, disabled.find("(due)")) << disabled;
  EXPECT_NE(std::string::npos, disabled.find(" (disabled)\n")) << disabled;
  ASSERT_EQ(0, Admin({"schedule", "list", "--json"})) << err;
  EXPECT_NE(std::string::npos, out.find("\"due\": false,\n      \"disabled\": true,")) << out;
  EXPECT_EQ(std::nullopt, Polled());

  ASSERT_EQ(0, Admin({"schedule", "enable", "1"})) << err;
  EXPECT_EQ("enabled schedule 1\n", out);
  const std::string listed = ScheduleList();
  EXPECT_NE(std::string::npos, listed.find(" (due)\n")) << listed;
  // Disabled and enabled again, it is as it was.
  ASSERT_EQ(0, Admin({"schedule", "disable", "1"})) << err;
  ASSERT_EQ(0, Admin({"schedule", "enable", "1"})) << err;
  EXPECT_EQ(listed, ScheduleList());
  EXPECT_EQ(ScheduleId{1}, Polled());
}

TEST_P(RemovalTest, NothingThatAJobWhichHasNotEndedUsesCanBeRemoved) {
  Sql("INSERT INTO history (name, time, status, content, subscription) "
      "VALUES ('Launch', '45000.5', 'Success', 'report', 'Alpha,Beta')");
  // Queued by the poll: it uses what its schedule names.
  Sql("INSERT INTO job (schedule_id, queued) VALUES (1, 45010)");
  const std::string job = Scalar("SELECT max(id) FROM job");
  const std::vector<std::string> refused[] = {
      {"schedule", "remove", "1"}, {"schedule", "disable", "1"},
      {"schedule", "enable", "1"}, {"site", "remove", "Alpha"},
      {"site", "remove", "Beta"},  {"release", "remove", "Launch", "--force"}};
  const std::string names[] = {"schedule 1",   "schedule 1",  "schedule 1",
                               "site 'Alpha'", "site 'Beta'", "release 'Launch'"};
  for (std::size_t i = 0; i < std::size(refused); ++i) {
    EXPECT_EQ(1, Admin(refused[i])) << names[i];
    EXPECT_EQ("veltrane-admin: " + names[i] + " is in use by job " + job +
                  ", which has not ended; try again once it has\n",
              err);
  }
  EXPECT_EQ(0, Admin({"schedule", "disable", "2"})) << err;

  // Started with a site list of its own: that list counts now.
  Sql("UPDATE job SET name = 'Launch', subscription = 'Alpha\r\n', started = 45010");
  EXPECT_EQ(1, Admin({"site", "remove", "Alpha"}));
  ASSERT_EQ(0, Admin({"site", "remove", "Beta"})) << err;
  EXPECT_EQ("removed site 'Beta' and its account\n", out);
  EXPECT_EQ(
      "veltrane-admin: warning: schedules 1, 2 still list site 'Beta'; the service fails it "
      "there (see 'schedule remove')\n",
      err);

  Sql("UPDATE job SET finished = 45010.1");
  ASSERT_EQ(0, Admin({"site", "remove", "Alpha"})) << err;
  EXPECT_EQ("0", Scalar("SELECT count(*) FROM account WHERE name = 'Alpha'"));
  EXPECT_EQ("1", Scalar("SELECT count(*) FROM history"));
  ASSERT_EQ(0, Admin({"site", "list"})) << err;
  EXPECT_EQ(std::string::npos, out.find("Alpha")) << out;

  EXPECT_EQ(3, Admin({"release", "remove", "Launch"}));
  EXPECT_EQ(
      "veltrane-admin: release 'Launch' is named by schedule 1 (remove it first, or give "
      "--force)\n",
      err);
  ASSERT_EQ(0, Admin({"release", "remove", "Other", "--force"})) << err;
  EXPECT_EQ("removed release 'Other'\n", out);
  EXPECT_NE(std::string::npos, err.find("schedule 2 still names release 'Other'; ")) << err;
  ASSERT_EQ(0, Admin({"schedule", "remove", "1"})) << err;
  EXPECT_EQ("removed schedule 1\n", out);
  ASSERT_EQ(0, Admin({"release", "remove", "Launch"})) << err;
  EXPECT_EQ("0", Scalar("SELECT count(*) FROM pressrelease"));
  // The finished job and the history row stay.
  EXPECT_EQ("1", Scalar("SELECT count(*) FROM job"));

  EXPECT_EQ(3, Admin({"schedule", "remove", "1"}));
  EXPECT_EQ("veltrane-admin: unknown schedule 1\n", err);
  EXPECT_EQ(3, Admin({"site", "remove", "Alpha"}));
  EXPECT_EQ("veltrane-admin: unknown site 'Alpha'\n", err);
  EXPECT_EQ(3, Admin({"release", "remove", "Launch"}));
  EXPECT_EQ("veltrane-admin: unknown release 'Launch'\n", err);
}

TEST_P(RemovalTest, PruneRemovesOldHistoryWithItsJournalRowsAndScreenshotsOnly) {
  const std::string dir = files.Directory();
  std::filesystem::create_directories(dir + "/shots");
  std::filesystem::create_directories(dir + "/tries");
  for (const char* file : {"shots/a-old.png", "shots/b-new.png", "shots/unnamed.png", "outside.png",
                           "tries/page-01.png"})
    std::ofstream(dir + "/" + file) << "png";
  Sql("INSERT INTO history (name, time, status, content, subscription) VALUES "
      "('Launch', '44900,25', 'Partial', 'old', 'Alpha,Beta,Gamma'), "
      "('Launch', '45000.5', 'Failed', 'new', 'Alpha'), "
      "('Launch', 'garbage', 'Success', 'unreadable', 'Alpha')");
  // Jobs 1 and 2 wrote history rows 1 and 2; job 3 is an old trial, job 4
  // has not ended.
  Sql("INSERT INTO job (schedule_id, name, queued, started, finished, history_id, trial) VALUES "
      "(1, 'Launch', 44900, 44900, 44900.25, 1, NULL), "
      "(1, 'Launch', 45000, 45000, 45000.5, 2, NULL), "
      "(NULL, 'Launch', 44900, 44900, 44900, NULL, 1), "
      "(1, NULL, 44900, NULL, NULL, NULL, NULL)");
  Sql("INSERT INTO job_site (job_id, schedule_id, position, site, status, reason, started, ended, "
      "last_url, screenshot) VALUES "
      "(1, 1, 0, 'Alpha', 'Failed', 'Timeout', 44900, 44900.1, '', 'a-old.png'), "
      "(1, 1, 1, 'Beta', 'Completed', '', 44900, 44900.1, '', ''), "
      "(1, 1, 2, 'Gamma', 'Failed', 'Timeout', 44900, 44900.1, '', '../outside.png'), "
      "(2, 1, 0, 'Alpha', 'Failed', 'Timeout', 45000, 45000.1, '', 'b-new.png'), "
      "(3, NULL, 0, 'Alpha', 'Failed', 'Timeout', 44900, 44900, '', '" +
      dir + "/tries/page-01.png'), (4, 1, 0, 'Alpha', 'Failed', 'Timeout', 44900, 44900, '', '')");

  ASSERT_EQ(0, Admin({"history", "prune", "--older-than", "30"})) << err;
  EXPECT_EQ(
      "removed 1 history row older than 30 days (before 2023-02-23 12:00:00): 1\n"
      "removed 2 jobs and 4 site outcomes from the job journal\n"
      "removed " +
          dir + "/shots/a-old.png\n",
      out);
  EXPECT_EQ("veltrane-admin: warning: kept 1 history row whose time cannot be read\n", err);
  EXPECT_EQ("2", Scalar("SELECT count(*) FROM history"));
  EXPECT_EQ("2,4",
            Scalar("SELECT " +
                   std::string(url_.empty() ? "group_concat(id)" : "string_agg(id::text, ',')") +
                   " FROM (SELECT id FROM job ORDER BY id) j"));
  EXPECT_EQ("2", Scalar("SELECT count(*) FROM job_site"));
  for (const char* kept :
       {"shots/b-new.png", "shots/unnamed.png", "outside.png", "tries/page-01.png"})
    EXPECT_TRUE(std::filesystem::exists(dir + "/" + kept)) << kept;
  EXPECT_FALSE(std::filesystem::exists(dir + "/shots/a-old.png"));

  ASSERT_EQ(0, Admin({"history", "prune", "--older-than", "30"})) << err;
  EXPECT_EQ("nothing older than 30 days (before 2023-02-23 12:00:00) to remove\n", out);
  EXPECT_EQ(2, Admin({"history", "prune"}));
}

TEST(RetentionTexts, KeepDaysSettingAndIdRanges) {
  const struct {
    const char* conf;
    int days;
    bool problem;
  } cases[] = {
      {"", 0, false},
      {"database_url = x\n", 0, false},
      {"history_keep_days = 90\n", 90, false},
      {"# history_keep_days = 5\n history_keep_days=7 \r\n", 7, false},
      {"history_keep_days = 0\n", 0, true},
      {"history_keep_days = -3\n", 0, true},
      {"history_keep_days = 30 days\n", 0, true},
  };
  for (const auto& c : cases) {
    const HistoryRetention retention = HistoryRetentionOf(c.conf);
    EXPECT_EQ(c.days, retention.keepDays) << c.conf;
    EXPECT_EQ(c.problem, !retention.problem.empty()) << c.conf;
  }
  EXPECT_EQ(
      "Setting history_keep_days 'x' is not a whole number of days from 1; the history is kept "
      "whole",
      HistoryRetentionOf("history_keep_days = x").problem);
  EXPECT_EQ("", IdRangesText({}));
  EXPECT_EQ("1-3, 7, 9-10", IdRangesText({1, 2, 3, 7, 9, 10}));
}

}  // namespace
}  // namespace veltrane
