// veltrane-admin against a PostgreSQL server: copy moves a service folder's
// two files into it, init creates what it lacks, and the commands read and
// write it as they do the files.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "admin/admin.h"
#include "storage/postgres/pg_database.h"
#include "storage/sqlite_core.h"
#include "tests/support/postgres_server.h"
#include "tests/support/temp_dir.h"

namespace veltrane::admin {
namespace {

using veltrane::testing::TempDir;

class AdminPostgresTest : public ::testing::Test {
 public:
  void SetUp() override { ASSERT_TRUE(server.Running()) << server.Error(); }

  int Run(const TempDir& dir, std::vector<std::string> args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream outStream, errStream;
    args.insert(args.begin(), {"--dir", dir.Path()});
    const int code = RunAdmin(args, {in, outStream, errStream, clock, false});
    out = outStream.str();
    err = errStream.str();
    return code;
  }

  // The command's output on the files, then on the server, each folder shown as "DIR".
  std::pair<std::string, std::string> OnBoth(const std::vector<std::string>& args) {
    const auto shown = [](std::string text, const std::string& folder) {
      for (std::size_t at; (at = text.find(folder)) != std::string::npos;)
        text.replace(at, folder.size(), "DIR");
      return text;
    };
    EXPECT_EQ(0, Run(files, args)) << err;
    const std::string onFiles = shown(out, files.Path());
    EXPECT_EQ(0, Run(shared, args)) << err;
    return {onFiles, shown(out, shared.Path())};
  }

  testing::PostgresServer server;
  ManualClock clock{45000.5};
  TempDir files;   // a service folder on the two SQLite files
  TempDir shared;  // a service folder whose veltrane.conf names the server
  std::string out;
  std::string err;
};

TEST_F(AdminPostgresTest, CopyThenInitGiveAServerOnWhichEveryCommandShowsWhatTheFilesShowed) {
  ASSERT_EQ(0, Run(files, {"init"})) << err;
  std::ofstream(files.File("r.txt")) << "name: Launch\nheadline: It's here\nkeywords: a, b\n";
  std::ofstream(files.File("s.ini")) << "[STEP1]\nAPP-SuccessString=ok\n";
  ASSERT_EQ(0, Run(files, {"release", "add", files.File("r.txt")})) << err;
  ASSERT_EQ(0, Run(files,
                   {"site", "add", "Alpha", "--url", "http://a/", "--script", files.File("s.ini")}))
      << err;
  ASSERT_EQ(0, Run(files, {"account", "set", "Alpha", "--user", "u"}, "pw\n")) << err;
  const std::vector<std::string> addSchedule = {"schedule", "add",   "--release",   "Launch",
                                                "--sites",  "Alpha", "--frequency", "daily",
                                                "--first",  "now"};
  ASSERT_EQ(0, Run(files, addSchedule)) << err;
  {
    // A job the files' service left unfinished, with one site ended.
    sqlite::Connection db(files.File("db/vt.dat"), sqlite::OpenMode::ReadWrite);
    db.Execute(
        "INSERT INTO job (id, schedule_id, name, subscription, queued, started) "
        "VALUES (7, 1, 'Launch', 'Alpha\r\n', 45000.25, 45000.25);"
        "INSERT INTO history (name, time, status, content, subscription) "
        "VALUES ('Launch', '45000,1', 'Success', 'report', 'Alpha');"
        // A finished job with its site's evidence, under history row 1.
        "INSERT INTO job (id, schedule_id, name, subscription, queued, started, finished, "
        "history_id) VALUES (6, 1, 'Launch', 'Alpha\r\n', 45000.05, 45000.05, 45000.1, 1);"
        "INSERT INTO job_site (job_id, schedule_id, position, site, status, reason, started, "
        "ended, last_url, last_status, success_text, pages, screenshot, notes, network_error) "
        "VALUES (6, 1, 0, 'Alpha', 'Failed', 'Submission failed', 45000.06, 45000.07, "
        "'http://a/done', 0, 'ok', 3, 'Alpha.png', 'form changed: missing title', "
        "'Connection refused')");
  }

  const std::string url = server.CreateDatabase("veltrane");
  ASSERT_EQ(0, Run(files, {"copy", "--to", url})) << err;
  EXPECT_NE(std::string::npos, out.find("copied 1 rows of schedule")) << out;
  EXPECT_NE(std::string::npos, out.find("copied 1 rows of subscription")) << out;
  // Again: nothing is there twice.
  ASSERT_EQ(0, Run(files, {"copy", "--to", url})) << err;

  std::ofstream(shared.File("veltrane.conf"))
      << "# the shared store\ndatabase_url = " << url << "\n";
  ASSERT_EQ(0, Run(shared, {"init"})) << err;
  EXPECT_EQ("created the missing tables on the PostgreSQL server\n", out);

  for (const std::vector<std::string>& command : {std::vector<std::string>{"release", "list"},
                                                  {"release", "show", "Launch"},
                                                  {"site", "list"},
                                                  {"schedule", "list"},
                                                  {"history", "list"},
                                                  {"history", "show", "1"},
                                                  {"site", "history", "Alpha"}}) {
    auto [onFiles, onServer] = OnBoth(command);
    if (command == std::vector<std::string>{"schedule", "list"}) {
      // What every instance runs by: the server's local time, said on the server only.
      const std::string timeBase =
          "Every instance runs schedules by the database server's local time: ";
      const std::size_t said = onServer.find(timeBase);
      ASSERT_NE(std::string::npos, said) << onServer;
      EXPECT_NE(std::string::npos, onServer.find("), now ", said)) << onServer;
      onServer.erase(said);
    }
    EXPECT_EQ(onFiles, onServer) << command[0] << " " << command[1];
    // The site's evidence, copied with its network error, shows it on the server too.
    const bool showsEvidence = command == std::vector<std::string>{"history", "show", "1"} ||
                               command == std::vector<std::string>{"site", "history", "Alpha"};
    EXPECT_EQ(showsEvidence,
              onServer.find("network error: Connection refused") != std::string::npos)
        << onServer;
  }

  // New rows on the server take ids after the copied ones.
  ASSERT_EQ(0, Run(shared, addSchedule)) << err;
  PgDatabase db(url);
  EXPECT_EQ(2, db.Execute("SELECT max(id) FROM schedule").Integer(0, 0));
  EXPECT_EQ(1, db.Execute("SELECT count(*) FROM history").Integer(0, 0));
  // The unfinished job can be claimed by an instance on the server.
  EXPECT_EQ(1, db.Execute("SELECT count(*) FROM job WHERE finished IS NULL AND lease_until < now()")
                   .Integer(0, 0));
}

// A folder with schedule 1 of `release` over `site`, history row 1, and job 1
// of that schedule, finished under that row, with its site's record.
void MakeFolder(AdminPostgresTest& test, const TempDir& dir, const std::string& release,
                const std::string& site) {
  ASSERT_EQ(0, test.Run(dir, {"init"})) << test.err;
  std::ofstream(dir.File("r.txt")) << "name: " << release << "\nheadline: h\n";
  std::ofstream(dir.File("s.ini")) << "[STEP1]\nAPP-SuccessString=ok\n";
  ASSERT_EQ(0, test.Run(dir, {"release", "add", dir.File("r.txt")})) << test.err;
  ASSERT_EQ(
      0, test.Run(dir, {"site", "add", site, "--url", "http://a/", "--script", dir.File("s.ini")}))
      << test.err;
  ASSERT_EQ(0, test.Run(dir, {"schedule", "add", "--release", release, "--sites", site,
                              "--frequency", "daily", "--first", "now"}))
      << test.err;
  sqlite::Connection db(dir.File("db/vt.dat"), sqlite::OpenMode::ReadWrite);
  db.Execute(("INSERT INTO history (id, name, time, status, content, subscription) VALUES (1, '" +
              release + "', '45000,1', 'Success', 'report of " + release + "', '" + site +
              "');"
              "INSERT INTO job (id, schedule_id, name, subscription, queued, started, finished, "
              "history_id) VALUES (1, 1, '" +
              release + "', '" + site +
              "', 45000.05, 45000.05, 45000.1, 1);"
              "INSERT INTO job_site (job_id, schedule_id, position, site, status, reason, "
              "started, ended, last_url) VALUES (1, 1, 0, '" +
              site + "', 'Completed', '', 45000.06, 45000.07, 'http://a/done')")
                 .c_str());
}

// Two folders whose ids collide, copied one after the other: every row of
// both is there, the second's renumbered with the references to them, and
// the counts printed are the rows written. Copying again adds nothing.
TEST_F(AdminPostgresTest, ASecondFolderWithTheSameIdsIsCopiedRenumbered) {
  TempDir second;
  MakeFolder(*this, files, "First", "Alpha");
  MakeFolder(*this, second, "Second", "Beta");
  const std::string url = server.CreateDatabase("two");
  ASSERT_EQ(0, Run(files, {"copy", "--to", url})) << err;
  ASSERT_EQ(0, Run(second, {"copy", "--to", url})) << err;
  EXPECT_NE(std::string::npos, out.find("copied 1 rows of schedule (renumbered: 1 as 2)\n")) << out;
  EXPECT_NE(std::string::npos, out.find("copied 1 rows of history (renumbered: 1 as 2)\n")) << out;
  EXPECT_NE(std::string::npos, out.find("copied 1 rows of job (renumbered: 1 as 2)\n")) << out;
  EXPECT_NE(std::string::npos, out.find("copied 1 rows of job_site\n")) << out;
  EXPECT_NE(std::string::npos, out.find("copied 1 rows of pressrelease\n")) << out;

  PgDatabase db(url);
  const auto text = [&](const std::string& sql) {
    const PgResult rows = db.Execute(sql);
    std::string all;
    for (int row = 0; row < rows.Rows(); ++row)
      for (int column = 0; column < rows.Columns(); ++column)
        all += (all.empty() ? "" : "|") + rows.Text(row, column);
    return all;
  };
  EXPECT_EQ("1|First|2|Second", text("SELECT id, name FROM schedule ORDER BY id"));
  // Each job, its site and its history row belong to the same folder's schedule.
  EXPECT_EQ("First|First|Alpha|report of First|Second|Second|Beta|report of Second",
            text("SELECT s.name, j.name, js.site, h.content FROM job j "
                 "JOIN schedule s ON s.id = j.schedule_id JOIN history h ON h.id = j.history_id "
                 "JOIN job_site js ON js.job_id = j.id AND js.schedule_id = s.id ORDER BY j.id"));
  // The second folder's schedule is due on the server, and no job of it is unfinished.
  EXPECT_EQ("First|Second", text("SELECT name FROM schedule WHERE next < 45001 ORDER BY id"));
  EXPECT_EQ("0", text("SELECT count(*) FROM job WHERE finished IS NULL"));

  ASSERT_EQ(0, Run(second, {"copy", "--to", url})) << err;
  EXPECT_NE(std::string::npos, out.find("copied 0 rows of schedule (1 already there)\n")) << out;
  ASSERT_EQ(0, Run(files, {"copy", "--to", url})) << err;
  EXPECT_EQ("2|2|2|2", text("SELECT (SELECT count(*) FROM schedule), (SELECT count(*) FROM "
                            "history), (SELECT count(*) FROM job), (SELECT count(*) FROM "
                            "job_site)"));
}

TEST_F(AdminPostgresTest, AnUnreachableServerIsAFailureThatSaysSo) {
  std::ofstream(shared.File("veltrane.conf"))
      << "database_url = postgresql:///none?host=" << shared.Path() << "&connect_timeout=2\n";
  EXPECT_EQ(1, Run(shared, {"release", "list"}));
  EXPECT_NE(std::string::npos, err.find("database server unreachable")) << err;
}

}  // namespace
}  // namespace veltrane::admin
