#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "admin/admin.h"
#include "admin/admin_error.h"
#include "scheduler/scheduler.h"
#include "storage/sqlite_core.h"
#include "tests/support/file_modes.h"
#include "tests/support/temp_dir.h"

namespace veltrane::admin {
namespace {

using namespace std::string_literals;
using veltrane::testing::ModeOf;
using veltrane::testing::ScopedUmask;
using veltrane::testing::TempDir;

// Every row of every table of a database file, as text, read with the raw library.
std::string Dump(const std::string& path) {
  sqlite3* connection = nullptr;
  std::string text;
  if (sqlite3_open_v2(path.c_str(), &connection, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    auto rows = [&](const std::string& sql) {
      std::vector<std::string> result;
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
        return std::vector<std::string>{"(unreadable)"};
      while (sqlite3_step(statement) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
          const auto* value = sqlite3_column_text(statement, i);
          row += std::string(value ? reinterpret_cast<const char*>(value) : "NULL") + "|";
        }
        result.push_back(row);
      }
      sqlite3_finalize(statement);
      return result;
    };
    for (const std::string& table :
         rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
      const std::string name = table.substr(0, table.size() - 1);
      text += "[" + name + "]\n";
      for (const std::string& row : rows("SELECT * FROM " + name + " ORDER BY rowid"))
        text += row + "\n";
    }
  }
  sqlite3_close(connection);
  return text;
}

class AdminCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, Run({"init"})) << err; }

  int Run(std::vector<std::string> args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream outStream, errStream;
    args.insert(args.begin(), {"--dir", dir.Path()});
    const AdminIo io{in, outStream, errStream, clock, false};
    const int code = RunAdmin(args, io);
    out = outStream.str();
    err = errStream.str();
    return code;
  }

  std::string File(const std::string& name, const std::string& content) const {
    const std::string path = dir.File(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  std::string Main() const { return dir.File("db/vt.dat"); }
  std::string Sites() const { return dir.File("db/subscription2.dat"); }
  std::string DumpAll() const { return Dump(Main()) + Dump(Sites()); }

  // Adds a release "Launch", sites "Alpha" and "Beta", and an account for Alpha.
  void AddFixtures() {
    ASSERT_EQ(0, Run({"release", "add", File("r.txt", "name: Launch\nheadline: H\n")})) << err;
    const std::string script = File("s.ini", "[STEP1]\nAPP-SuccessString=ok\n");
    ASSERT_EQ(0, Run({"site", "add", "Alpha", "--url", "http://a/", "--script", script})) << err;
    ASSERT_EQ(0, Run({"site", "add", "Beta", "--url", "https://b/", "--script", script})) << err;
    ASSERT_EQ(0, Run({"account", "set", "Alpha", "--user", "u"}, "pw\n")) << err;
  }

  // Runs `sql` on the file at `path` (created when missing).
  static void Exec(const std::string& path, const std::string& sql) {
    sqlite3* connection = nullptr;
    sqlite3_open(path.c_str(), &connection);
    sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(connection);
  }

  std::string Scalar(const std::string& path, const std::string& sql) const {
    sqlite3* connection = nullptr;
    std::string value = "(no row)";
    sqlite3_open_v2(path.c_str(), &connection, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(statement, 0);
      value = text ? std::string(reinterpret_cast<const char*>(text),
                                 static_cast<std::size_t>(sqlite3_column_bytes(statement, 0)))
                   : "NULL";
    }
    sqlite3_finalize(statement);
    sqlite3_close(connection);
    return value;
  }

  TempDir dir;
  ManualClock clock{45000.5};  // 2023-03-15 12:00
  std::string out;
  std::string err;
};

TEST_F(AdminCommandsTest, InitCreatesTheSchemaOnceAndKeepsExistingFiles) {
  EXPECT_EQ("schedule_next", Scalar(Main(),
                                    "SELECT name FROM sqlite_master WHERE type = 'index' "
                                    "AND tbl_name = 'schedule' AND sql LIKE '%next%'"));
  EXPECT_EQ("1", Scalar(Sites(), "SELECT count(*) FROM sqlite_master WHERE name = 'subscription'"));
  struct stat status {};
  ASSERT_EQ(0, stat(Main().c_str(), &status));
  EXPECT_EQ(0600u, status.st_mode & 0777u) << "vt.dat holds passwords";

  AddFixtures();
  const std::string before = DumpAll();
  EXPECT_EQ(0, Run({"init"}));
  EXPECT_EQ("kept " + Main() + "\nkept " + Sites() + "\n", out);
  EXPECT_EQ(before, DumpAll());
}

TEST_F(AdminCommandsTest, InitFillsAnEmptyFileButRefusesOneThatIsNoDatabase) {
  TempDir other;
  std::filesystem::create_directories(other.File("db"));
  std::ofstream(other.File("db/vt.dat"));  // as the service leaves it when run without databases
  EXPECT_EQ(0, Run({"init", other.Path()})) << err;
  EXPECT_EQ("1", Scalar(other.File("db/vt.dat"),
                        "SELECT count(*) FROM sqlite_master WHERE name = 'pressrelease'"));

  TempDir broken;
  std::filesystem::create_directories(broken.File("db"));
  std::ofstream(broken.File("db/vt.dat")) << "not a database, just text that is long enough......";
  EXPECT_EQ(kExitData, Run({"init", broken.Path()}));
  EXPECT_EQ("veltrane-admin: " + broken.File("db/vt.dat") + " is not an SQLite database\n", err);
  EXPECT_FALSE(std::filesystem::exists(broken.File("db/subscription2.dat")))
      << "a failing init creates nothing";
}

// The files hold the sites' passwords: whoever made them, init leaves them
// readable and writable by their owner only.
TEST_F(AdminCommandsTest, InitMakesTheDatabaseFilesPrivate) {
  ScopedUmask usual(022);
  TempDir fresh;
  ASSERT_EQ(0, Run({"init", fresh.Path()})) << err;
  EXPECT_EQ(0600, ModeOf(fresh.File("db/vt.dat")));
  EXPECT_EQ(0600, ModeOf(fresh.File("db/subscription2.dat")));
  {
    sqlite::Connection made(fresh.File("made.dat"), sqlite::OpenMode::Create);
    made.Execute("CREATE TABLE t (x)");
  }
  EXPECT_EQ(0600, ModeOf(fresh.File("made.dat")));

  // The service started first and SQLite left an empty vt.dat under the
  // umask; subscription2.dat is a copy that the group may write.
  TempDir early;
  const std::string vt = early.File("db/vt.dat");
  const std::string subscription = early.File("db/subscription2.dat");
  std::filesystem::create_directories(early.File("db"));
  std::ofstream{vt};
  std::filesystem::copy_file(fresh.File("db/subscription2.dat"), subscription);
  ASSERT_EQ(0, chmod(vt.c_str(), 0644));
  ASSERT_EQ(0, chmod(subscription.c_str(), 0664));
  ASSERT_EQ(0, Run({"init", early.Path()})) << err;
  EXPECT_EQ("added the tables to the empty " + vt + "\ntightened " + vt + " to mode 0600\nkept " +
                subscription + "\ntightened " + subscription + " to mode 0600\n",
            out);
  EXPECT_EQ(0600, ModeOf(vt));
  EXPECT_EQ(0600, ModeOf(subscription));
  ASSERT_EQ(0, Run({"init", early.Path()})) << err;
  EXPECT_EQ("kept " + vt + "\nkept " + subscription + "\n", out);
}

TEST_F(AdminCommandsTest, ReleaseIsStoredAsTheServiceReadsItAndShownForEditing) {
  const std::string file =
      File("r.txt",
           "name: Launch\nheadline: Widget 2\nrelease_date: 2000-01-01\n"
           "keywords: a, b\nemail: p@x\ncountry: France\ncategory.Alpha: Tech\n"
           "\n[body]\nline 1\nline 2\n");
  ASSERT_EQ(0, Run({"release", "add", file})) << err;
  EXPECT_EQ("added release 'Launch'\n", out);
  EXPECT_EQ("email=p@x\r\ncountry=France|a\r\nb|Alpha=Tech|36526|line 1\r\nline 2",
            Scalar(Main(),
                   "SELECT contact_data || '|' || keyword || '|' || extra_data || '|' || "
                   "release_date || '|' || news_body FROM pressrelease"));
  EXPECT_EQ("integer", Scalar(Main(), "SELECT typeof(release_date) FROM pressrelease"));

  ASSERT_EQ(0, Run({"release", "show", "Launch"}));
  const std::string shown = out;
  std::string edited = shown;
  edited.replace(edited.find("Widget 2"), 8, "Widget 3");
  ASSERT_EQ(0, Run({"release", "update", File("edited.txt", edited)})) << err;
  EXPECT_EQ("Widget 3", Scalar(Main(), "SELECT headline FROM pressrelease"));
  EXPECT_EQ("line 1\r\nline 2", Scalar(Main(), "SELECT news_body FROM pressrelease"))
      << "fields the edit left alone survive the update";

  ASSERT_EQ(0, Run({"release", "list"}));
  EXPECT_EQ("NAME    RELEASE DATE  HEADLINE\nLaunch  2000-01-01    Widget 3\n", out);
}

// Stored list columns read back into the file; lines the file cannot hold stay visible.
TEST_F(AdminCommandsTest, ReleaseShowKeepsOddStoredLinesVisible) {
  Exec(Main(),
       "INSERT INTO pressrelease (name, contact_data, keyword, extra_data) VALUES ('Odd', "
       "'EMAIL=a@b' || char(13, 10) || 'email=second' || char(10) || 'fax' || char(10), "
       "'one' || char(10, 10) || 'two', 'Site=Cat' || char(13) || 'noequals')");
  ASSERT_EQ(0, Run({"release", "show", "Odd"})) << err;
  for (const char* line :
       {"\nrelease_date: \n", "\nkeywords: one, two\n", "\nemail: a@b\n", "\nfax: \n",
        "\ncategory.Site: Cat\n# stored, but not kept by this file: contact_data email=second\n"
        "# stored, but not kept by this file: contact_data fax\n"
        "# stored, but not kept by this file: extra_data noequals\n\n[body]\n"})
    EXPECT_NE(std::string::npos, out.find(line)) << line << "\nin:\n" << out;
}

TEST_F(AdminCommandsTest, SitesAccountsAndScriptChecks) {
  AddFixtures();
  EXPECT_EQ("[STEP1]\nAPP-SuccessString=ok\n",
            Scalar(Sites(), "SELECT submission_data FROM subscription WHERE name = 'Alpha'"));
  ASSERT_EQ(0, Run({"account", "set", "Alpha", "--user", "new"}, "se'cret\r\nignored\n")) << err;
  EXPECT_EQ("new|se'cret", Scalar(Main(), "SELECT username || '|' || password FROM account"));
  EXPECT_EQ("1", Scalar(Main(), "SELECT count(*) FROM account"));

  ASSERT_EQ(0, Run({"site", "list"}));
  EXPECT_EQ(
      "NAME   URL         STEPS  USER\nAlpha  http://a/   1      new\n"
      "Beta   https://b/  1      (no account)\n",
      out);
  ASSERT_EQ(0, Run({"site", "show", "Alpha"}));
  EXPECT_EQ(std::string::npos, out.find("se'cret")) << out;

  const std::string script = File("bad.ini", "[STEP1]\nAPP-Note=x\n[STEP2]\nAPP-SucessString=ok\n");
  ASSERT_EQ(0, Run({"site", "update", "Beta", "--script", script})) << err;
  EXPECT_NE(std::string::npos, err.find("warning: STEP2: key 'APP-SucessString'")) << err;
  ASSERT_EQ(0, Run({"site", "check", "Beta"}));
  EXPECT_NE(std::string::npos, out.find("STEP1: has nothing to do")) << out;
  ASSERT_EQ(0, Run({"site", "check", "--file", File("good.ini", "[STEP1]\nAPP-GotoLink=u\n")}));
  EXPECT_EQ("STEP1: opens u\n  APP-GotoLink=u\nno warnings\n", out);

  // The service quotes names, so a single quote in one is stored as written.
  ASSERT_EQ(0, Run({"site", "add", "O'Brien", "--url", "http://o/", "--script", script})) << err;
  EXPECT_EQ("http://o/", Scalar(Sites(), "SELECT url FROM subscription WHERE name = 'O''Brien'"));
}

// Editors on Windows start files with a byte-order mark; the script is stored without it.
TEST_F(AdminCommandsTest, ScriptsWithAByteOrderMarkAreReadWithoutIt) {
  const std::string script = File("bom.ini", "\xEF\xBB\xBF[STEP1]\r\nAPP-GotoLink=u\r\n");
  ASSERT_EQ(0, Run({"site", "add", "Alpha", "--url", "http://a/", "--script", script})) << err;
  EXPECT_EQ("added site 'Alpha' with 1 steps\n", out);
  EXPECT_EQ("", err);
  EXPECT_EQ("[STEP1]\r\nAPP-GotoLink=u\r\n",
            Scalar(Sites(), "SELECT submission_data FROM subscription WHERE name = 'Alpha'"));
  ASSERT_EQ(0, Run({"site", "check", "--file", script})) << err;
  EXPECT_EQ("STEP1: opens u\n  APP-GotoLink=u\nno warnings\n", out);
}

// site check prints its whole report, then fails like site add would.
TEST_F(AdminCommandsTest, SiteCheckReportsAScriptWithoutStepsAsAnError) {
  const std::string script = File("s.ini", "[STEP2]\nAPP-SuccessString=ok\n");
  EXPECT_EQ(kExitData, Run({"site", "check", "--file", script}));
  EXPECT_EQ(
      "error: Site script has no steps: the first step needs a [STEP1] section with at least one "
      "line\nwarning: [STEP2] is never reached: the script has no steps (STEP1 is missing or "
      "empty)\n",
      out);
  EXPECT_EQ(
      "veltrane-admin: Site script has no steps: the first step needs a [STEP1] section with at "
      "least one line\n",
      err);
}

// A script stored by another tool may hold a NUL byte: the tool reads it
// whole, and site check fails it as the service would.
TEST_F(AdminCommandsTest, StoredScriptWithANulByteIsReadWholeAndFailsTheCheck) {
  AddFixtures();
  Exec(Sites(),
       "UPDATE subscription SET submission_data = '[STEP1]' || char(10) || "
       "'APP-GotoLink=u' || char(10, 0) || '[STEP2]' || char(10) || "
       "'APP-SuccessString=ok' WHERE name = 'Alpha'");

  ASSERT_EQ(0, Run({"site", "show", "Alpha"})) << err;
  EXPECT_NE(std::string::npos, out.find("APP-GotoLink=u\n\0[STEP2]\nAPP-SuccessString=ok\n"s))
      << out;
  EXPECT_EQ(kExitData, Run({"site", "check", "Alpha"}));
  EXPECT_NE(std::string::npos, out.find("error: Site script contains a NUL byte\n")) << out;
  EXPECT_EQ("veltrane-admin: Site script contains a NUL byte\n", err);
}

// Schedules whose next run would not move past now run at every poll; the
// service skips them, list says why, add refuses to make one.
TEST_F(AdminCommandsTest, ScheduleListMarksSchedulesThatNeverMoveOn) {
  AddFixtures();
  ASSERT_EQ(0, Run({"schedule", "add", "--release", "Launch", "--sites", "Alpha", "--frequency",
                    "9", "--time", "12:00", "--first", "now"}))
      << err;
  EXPECT_EQ("9|0.5", Scalar(Main(), "SELECT frequency || '|' || time FROM schedule"));
  Exec(Main(),
       "INSERT INTO schedule (id, name, subscription, frequency, time, next) VALUES "
       "(2, 'Launch', 'Alpha', 9, 0, 45000.25), (3, 'Launch', 'Alpha', 1, -1, 45001.5), "
       "(4, 'Launch', 'Alpha', NULL, NULL, 45002), (5, 'Launch', 'Alpha', 1, -0.5, 45003)");

  ASSERT_EQ(0, Run({"schedule", "list"})) << err;
  EXPECT_EQ(
      "ID  RELEASE  SITES  FREQUENCY  TIME       NEXT RUN\n"
      "2   Launch   Alpha  code 9     0 days     2023-03-15 06:00:00 - invalid: never moves on "
      "(frequency 9, time 0)\n"
      "1   Launch   Alpha  code 9     12:00      2023-03-15 11:59:59 (due)\n"
      "3   Launch   Alpha  daily      -1 days    2023-03-16 12:00:00 - invalid: never moves on "
      "(frequency 1, time -1)\n"
      "4   Launch   Alpha  once       0 days     2023-03-17 00:00:00\n"
      "5   Launch   Alpha  daily      -0.5 days  2023-03-18 00:00:00\n",
      out);
}

TEST_F(AdminCommandsTest, ScheduleAddedForNowIsPickedUpByTheSchedulePoll) {
  AddFixtures();
  ASSERT_EQ(0, Run({"schedule", "add", "--release", "Launch", "--sites", "Beta, Alpha",
                    "--frequency", "weekly", "--first", "2023-03-20 09:30", "--time", "06:00"}))
      << err;
  EXPECT_EQ("added schedule 1, first run 2023-03-20 09:30:00\n", out);
  EXPECT_EQ("veltrane-admin: warning: site 'Beta' has no account (see 'account set')\n", err);
  EXPECT_EQ("Launch|Beta\r\nAlpha\r\n|2|0.25|45005.3958333333",
            Scalar(Main(),
                   "SELECT name || '|' || subscription || '|' || frequency || '|' || time "
                   "|| '|' || round(next, 10) FROM schedule"));

  ASSERT_EQ(0, Run({"schedule", "add", "--release", "Launch", "--sites", "Alpha", "--frequency",
                    "once", "--first", "now"}))
      << err;
  EXPECT_EQ("added schedule 2, first run at the service's next poll\n", out);

  struct Queue : ScheduleQueue {
    bool QueueSchedule(ScheduleId id) override {
      ids.push_back(std::to_string(id));
      return true;
    }
    std::vector<std::string> ids;
  } queue;
  DiscardingTrace trace;
  CScheduler(queue, clock, trace, DatabasePaths{Main(), "", ""}).PollSchedules();
  EXPECT_EQ(std::vector<std::string>{"2"}, queue.ids);

  ASSERT_EQ(0, Run({"schedule", "run-now", "1"}));
  EXPECT_EQ("1",
            Scalar(Main(), "SELECT next < 45000.5 AND next > 45000.49 FROM schedule WHERE id = 1"));
  ASSERT_EQ(0, Run({"schedule", "list"}));
  EXPECT_EQ(
      "ID  RELEASE  SITES       FREQUENCY  TIME    NEXT RUN\n"
      "1   Launch   Beta,Alpha  weekly     06:00   2023-03-15 11:59:59 (due)\n"
      "2   Launch   Alpha       once       0 days  done\n",
      out);
}

// Each bad command gives one error line and its exit code, and changes nothing.
TEST_F(AdminCommandsTest, BadInputGivesOneLineAndItsExitCodeAndChangesNothing) {
  AddFixtures();
  ASSERT_EQ(0, Run({"schedule", "add", "--release", "Launch", "--sites", "Alpha", "--frequency",
                    "daily", "--first", "2023-03-20 09:30"}));
  const std::string script = File("ok.ini", "[STEP1]\nAPP-GotoLink=u\n");
  const std::string missing = dir.File("missing.txt");
  const std::string dup = File("dup.txt", "name: Launch\n");
  const std::string unknown = File("unknown.txt", "name: Other\n");
  const std::string commentedStep = File("comment.ini", "[STEP1] ; login\nAPP-GotoLink=u\n");
  const std::string onlyStep2 = File("step2.ini", "[STEP2]\nAPP-GotoLink=u\n");
  const std::string empty = File("empty.ini", "");
  const std::string withNul =
      File("nul.ini", "[STEP1]\nAPP-GotoLink=u\n\0[STEP2]\nAPP-SuccessString=ok\n"s);
  const std::string noSteps =
      "Site script has no steps: the first step needs a [STEP1] section with at least one line";
  const struct {
    std::vector<std::string> args;
    std::string input;
    int code;
    std::string error;
  } cases[] = {
      {{"bogus"}, "", kExitUsage, "unknown command 'bogus' (see 'veltrane-admin --help')"},
      {{"release"},
       "",
       kExitUsage,
       "release: missing command (see 'veltrane-admin release --help')"},
      {{"release", "add"},
       "",
       kExitUsage,
       "release add: missing FILE (see 'veltrane-admin release add --help')"},
      {{"release", "add", missing},
       "",
       kExitData,
       "cannot read " + missing + ": No such file or directory"},
      {{"release", "add", dup},
       "",
       kExitData,
       "release 'Launch' exists already (use 'release update')"},
      {{"release", "update", unknown},
       "",
       kExitData,
       "unknown release 'Other' (use 'release add')"},
      {{"release", "show", "Other"}, "", kExitData, "unknown release 'Other'"},
      {{"site", "add", "Gamma", "--url", "http://g/", "--script", missing},
       "",
       kExitData,
       "cannot read " + missing + ": No such file or directory"},
      {{"site", "add", "Gamma", "--url", "g.example", "--script", script},
       "",
       kExitData,
       "start address 'g.example' is not an http:// or https:// address"},
      {{"site", "add", "Al\tpha", "--url", "http://g/", "--script", script},
       "",
       kExitData,
       "site name 'Al\tpha' holds a control character"},
      {{"site", "add", "Alpha", "--url", "http://g/", "--script", script},
       "",
       kExitData,
       "site 'Alpha' exists already (use 'site update')"},
      {{"site", "add", "Gamma", "--script", script},
       "",
       kExitUsage,
       "site add: --url is required (see 'veltrane-admin site add --help')"},
      {{"site", "update", "Gamma", "--url", "http://g/"},
       "",
       kExitData,
       "unknown site 'Gamma' (use 'site add')"},
      {{"site", "update", "Alpha"},
       "",
       kExitUsage,
       "site update: give --url, --script or both (see 'veltrane-admin site update --help')"},
      {{"site", "check", "Gamma"}, "", kExitData, "unknown site 'Gamma'"},
      {{"site", "add", "Gamma", "--url", "http://g/", "--script", empty}, "", kExitData, noSteps},
      {{"site", "add", "Gamma", "--url", "http://g/", "--script", commentedStep},
       "",
       kExitData,
       noSteps},
      {{"site", "update", "Alpha", "--url", "http://new/", "--script", onlyStep2},
       "",
       kExitData,
       noSteps},
      {{"site", "update", "Alpha", "--script", "-"}, "\xEF\xBB\xBF", kExitData, noSteps},
      {{"site", "check", "--file", commentedStep}, "", kExitData, noSteps},
      {{"site", "add", "Gamma", "--url", "http://g/", "--script", withNul},
       "",
       kExitData,
       "Site script contains a NUL byte"},
      {{"site", "update", "Alpha", "--script", "-"},
       "[STEP1]\nAPP-GotoLink=u\n\0[STEP2]\nAPP-SuccessString=ok\n"s,
       kExitData,
       "Site script contains a NUL byte"},
      {{"site", "check", "--file", withNul}, "", kExitData, "Site script contains a NUL byte"},
      {{"account", "set", "Gamma", "--user", "u"},
       "pw\n",
       kExitData,
       "unknown site 'Gamma' (use 'site add')"},
      {{"account", "set", "Beta", "--user", "u"},
       "",
       kExitData,
       "no password on standard input (give it as one line)"},
      {{"account", "set", "Beta", "--user", "u", "--password", "pw"},
       "",
       kExitUsage,
       "account set: unknown option --password (see 'veltrane-admin account set --help')"},
      {{"schedule", "add", "--release", "Other", "--sites", "Alpha", "--frequency", "once",
        "--first", "now"},
       "",
       kExitData,
       "unknown release 'Other'"},
      {{"schedule", "add", "--release", "Launch", "--sites", "Alpha,Gamma", "--frequency", "once",
        "--first", "now"},
       "",
       kExitData,
       "unknown site 'Gamma'"},
      {{"schedule", "add", "--release", "Launch", "--sites", "Alpha,", "--frequency", "once",
        "--first", "now"},
       "",
       kExitData,
       "--sites 'Alpha,' holds an empty site name"},
      {{"schedule", "add", "--release", "Launch", "--sites", "Alpha", "--frequency", "hourly",
        "--first", "now"},
       "",
       kExitData,
       "unknown frequency 'hourly' (once, daily, weekly, every-30-days or a whole-number code)"},
      {{"schedule", "add", "--release", "Launch", "--sites", "Alpha", "--frequency", "once",
        "--first", "2023-3-20 09:30"},
       "",
       kExitData,
       "--first '2023-3-20 09:30' is not a local date and time (YYYY-MM-DD HH:MM) or 'now'"},
      {{"schedule", "add", "--release", "Launch", "--sites", "Alpha", "--frequency", "once",
        "--first", "now", "--time", "--1"},
       "",
       kExitData,
       "--time '--1' is neither HH:MM nor a number of days"},
      {{"schedule", "add", "--release", "Launch", "--sites", "Alpha", "--frequency", "daily",
        "--first", "now", "--time", "-1"},
       "",
       kExitData,
       "schedule never moves on (frequency 1, time -1): the frequency's days (1) plus --time "
       "must be more than 0, or the service would find it due at every poll"},
      {{"schedule", "add", "--release", "Launch", "--sites", "Alpha", "--frequency", "9", "--first",
        "now"},
       "",
       kExitData,
       "schedule never moves on (frequency 9, time 0): the frequency's days (0) plus --time "
       "must be more than 0, or the service would find it due at every poll"},
      {{"schedule", "add", "--release", "Launch", "--sites", "Alpha", "--frequency", "once"},
       "",
       kExitUsage,
       "schedule add: --first is required (see 'veltrane-admin schedule add --help')"},
      {{"schedule", "run-now", "7"}, "", kExitData, "unknown schedule 7"},
      {{"schedule", "run-now", "1 OR 1=1"},
       "",
       kExitData,
       "schedule id '1 OR 1=1' is not a number"},
      {{"history", "show", "3"}, "", kExitData, "unknown history row 3"},
  };
  for (const auto& c : cases) {
    const std::string before = DumpAll();
    std::string command;
    for (const std::string& arg : c.args) command += arg + " ";
    EXPECT_EQ(c.code, Run(c.args, c.input)) << command;
    EXPECT_EQ("veltrane-admin: " + c.error + "\n", err) << command;
    EXPECT_EQ(before, DumpAll()) << command;
  }
}

TEST_F(AdminCommandsTest, FilesThatAreNotVeltraneDatabasesAreDataErrors) {
  const std::string path = Main();
  std::filesystem::remove(path);
  EXPECT_EQ(kExitData, Run({"release", "list"}));
  EXPECT_EQ("veltrane-admin: " + path + " does not exist (create it with 'veltrane-admin init')\n",
            err);

  const std::string text(4096, 'x');
  std::ofstream(path, std::ios::binary) << text;
  EXPECT_EQ(kExitData, Run({"release", "add", File("r.txt", "name: A\n")}));
  EXPECT_EQ("veltrane-admin: " + path + " is not an SQLite database\n", err);
  std::ifstream kept(path, std::ios::binary);
  EXPECT_EQ(text, std::string(std::istreambuf_iterator<char>(kept), {}));

  std::filesystem::remove(path);
  Exec(path, "CREATE TABLE notes (x)");
  EXPECT_EQ(kExitData, Run({"history", "list"}));
  EXPECT_EQ("veltrane-admin: " + path + " has no table 'history' (not a Veltrane database?)\n",
            err);
}

TEST_F(AdminCommandsTest, HistoryShowsTheReportAndTheScreenshotsOfItsJob) {
  // The job before ended at 2023-03-15 09:00:00 (45000.375); this one at 18:00 (45000.75),
  // written with a decimal comma as the service does under such a locale.
  Exec(Main(),
       "INSERT INTO history (name, time, status, content, subscription) VALUES "
       "('Earlier', '45000.375', 'Failed', '', 'Alpha');"
       "INSERT INTO history (name, time, status, content, subscription) VALUES "
       "('Launch', '45000,75', 'Partial', 'Report line 1' || char(13, 10) || 'line 2' || "
       "char(13, 10), 'Alpha,\"PR Daily/2\"')");
  std::filesystem::create_directories(dir.File("shots"));
  for (const char* name :
       {"20230315-170000-PR_Daily_2.png", "20230315-090001-Alpha.png", "20230315-180001-Alpha.png",
        "20230315-090000-Alpha.png", "20230315-170000-Beta.png", "20230315-170000-Alpha.txt"})
    std::ofstream(dir.File(std::string("shots/") + name));

  ASSERT_EQ(0, Run({"history", "list"}));
  EXPECT_EQ(
      "ID  TIME                 RELEASE  STATUS   SITES\n"
      "2   2023-03-15 18:00:00  Launch   Partial  Alpha,\"PR Daily/2\"\n"
      "1   2023-03-15 09:00:00  Earlier  Failed   Alpha\n",
      out);
  ASSERT_EQ(0, Run({"history", "show", "2"}));
  EXPECT_EQ(
      "history 2: Launch, 2023-03-15 18:00:00, Partial\nsites: Alpha,\"PR Daily/2\"\n\n"
      "Report line 1\nline 2\n\nscreenshots:\n  " +
          dir.File("shots/20230315-090001-Alpha.png") + "\n  " +
          dir.File("shots/20230315-170000-PR_Daily_2.png") + "\n",
      out);
  ASSERT_EQ(0, Run({"history", "show", "1"}));
  EXPECT_NE(std::string::npos,
            out.find("screenshots:\n  " + dir.File("shots/20230315-090000-Alpha.png") + "\n"))
      << out;
}

}  // namespace
}  // namespace veltrane::admin
