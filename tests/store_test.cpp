// The stores' contract, run against both backends: the SQLite files and a
// throw-away PostgreSQL server (when the build has PostgreSQL support).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/trace_priority.h"
#include "storage/journal_report.h"
#include "storage/spool.h"
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

// The backend under test: its paths, and SQL run on it beside the stores.
class StoreTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::Files) return;
#ifdef VELTRANE_WITH_POSTGRES
    static testing::PostgresServer server;  // one for the whole program: initdb is slow
    ASSERT_TRUE(server.Running()) << server.Error();
    static int databases = 0;
    url_ = server.CreateDatabase("store" + std::to_string(++databases));
    ASSERT_FALSE(url_.empty()) << server.Error();
    CreatePgSchema(url_);
#else
    GTEST_SKIP() << "built without PostgreSQL support";
#endif
  }

  DatabasePaths Paths() const {
    DatabasePaths paths = files.Paths();
    paths.server = url_;
    return paths;
  }

  // Runs SQL on the database that holds the main tables.
  void Run(const std::string& sql) const {
#ifdef VELTRANE_WITH_POSTGRES
    if (!url_.empty()) return PgDatabase(url_).ExecuteScript(sql);
#endif
    files.Main(sql);
  }

  // The first column of the first row as text ("" for NULL or no row).
  std::string Scalar(const std::string& sql) const {
#ifdef VELTRANE_WITH_POSTGRES
    if (!url_.empty()) {
      const PgResult rows = PgDatabase(url_).Execute(sql);
      return rows.Rows() == 0 ? "" : rows.Text(0, 0);
    }
#endif
    return files.MainScalar(sql);
  }

  std::string SpoolDirectory() const { return files.Directory() + "/db"; }

  TestDatabases files;  // the server's spool is their db/ folder too

 private:
  std::string url_;
};

INSTANTIATE_TEST_SUITE_P(Backends, StoreTest, ::testing::Values(Backend::Files, Backend::Server),
                         [](const auto& info) {
                           return info.param == Backend::Files ? "Files" : "Server";
                         });

TEST_P(StoreTest, PressReleasesAreStoredAndReadAsTheServiceLoadsThem) {
  const auto releases = MakePressReleaseStore(Paths());
  PressRelease release;
  release.Name = "Launch";
  release.Email = "a@b";
  release.Keywords = {"red", "green"};
  release.SiteCategories = {"Site=Tech"};
  release.NewsBody = "one\r\ntwo";
  ASSERT_TRUE(releases->Add(release));
  EXPECT_FALSE(releases->Add(release)) << "the name is taken";

  const std::optional<PressRelease> found = releases->Find("Launch", 45000);
  ASSERT_TRUE(found);
  const PressRelease& read = *found;
  EXPECT_FALSE(read.ReleaseDateGiven);
  EXPECT_EQ(45000, read.ReleaseDate);  // no date: the day the job runs
  EXPECT_EQ("a@b", read.Email);
  EXPECT_EQ("red,green", read.KeywordsComma);
  EXPECT_EQ("one\r<BR>two", read.NewsBodyHtml);
  EXPECT_EQ(release.SiteCategories, read.SiteCategories);

  release.ReleaseDate = 36526;
  release.ReleaseDateGiven = true;
  ASSERT_TRUE(releases->Update(release));
  ASSERT_EQ(1u, releases->List().size());
  EXPECT_EQ(36526, releases->List()[0].releaseDate);
  release.Name = "Other";
  EXPECT_FALSE(releases->Update(release));
  EXPECT_FALSE(releases->Find("Other", 0));
}

TEST_P(StoreTest, SchedulesAreAddedFoundDueAndAdvancedWithTheirQueuedJob) {
  const auto schedules = MakeScheduleStore(Paths());
  EXPECT_EQ(1, schedules->Add({"Launch", {"a", "b"}, 1, 0.25, 44000.0}));
  EXPECT_EQ(2, schedules->Add({"Launch", {"c"}, 9, 0.0, 43000.0}));
  const auto firstValid = [](const DueSchedule& due) { return due.frequency == 1; };
  const std::optional<DueSchedule> due = schedules->FirstDue(45000, firstValid);
  ASSERT_TRUE(due);
  EXPECT_EQ(1, due->id);
  EXPECT_DOUBLE_EQ(0.25, due->time);

  EXPECT_TRUE(schedules->AdvanceNextRun(1, 45001.25, 45000));
  EXPECT_FALSE(schedules->AdvanceNextRun(1, 45002.25, 45000)) << "its job is still queued";
  EXPECT_EQ("1", Scalar("SELECT count(*) FROM job WHERE schedule_id = 1"));
  EXPECT_FALSE(schedules->FirstDue(45000, firstValid));
  EXPECT_TRUE(schedules->SetNextRun(2, 44999));
  EXPECT_FALSE(schedules->SetNextRun(3, 44999));
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), schedules->Find(1)->sites);
  const std::vector<ScheduleEntry> listed = schedules->List();
  ASSERT_EQ(2u, listed.size());
  EXPECT_EQ("2", listed[0].id);  // by next run
  EXPECT_DOUBLE_EQ(45002.25, *listed[1].next);
}

TEST_P(StoreTest, SitesAndTheirAccounts) {
  const auto sites = MakeSiteStore(Paths());
  ASSERT_TRUE(sites->Add("Alpha", "http://a/", "[STEP1]\r\nx=1"));
  EXPECT_FALSE(sites->Add("Alpha", "http://b/", ""));
  ASSERT_TRUE(sites->Update("Alpha", "http://new/", std::nullopt));
  EXPECT_FALSE(sites->Update("Beta", "http://b/", std::nullopt));
  EXPECT_FALSE(sites->FindAccount("Alpha"));
  sites->SetAccount("Alpha", "u", "first");
  sites->SetAccount("Alpha", "v", "second");
  EXPECT_EQ("1", Scalar("SELECT count(*) FROM account"));

  const std::optional<SiteEntry> found = sites->Find("Alpha");
  ASSERT_TRUE(found && found->account);
  EXPECT_EQ("http://new/", found->url);
  EXPECT_EQ("[STEP1]\r\nx=1", found->script) << "a value not given is kept";
  EXPECT_EQ("v", found->account->user);
  EXPECT_EQ("[STEP1]\r\nx=1", sites->Script("Alpha"));
  const std::optional<StoredRow> subscription = sites->ReadSubscription("Alpha");
  ASSERT_TRUE(subscription);
  EXPECT_EQ("http://new/", subscription->Text("url"));
  EXPECT_EQ("", subscription->TextIfAny("extra_data"));
  EXPECT_FALSE(sites->ReadSubscription("Beta"));
  const std::optional<StoredRow> login = sites->ReadLogin("Alpha");
  ASSERT_TRUE(login);
  EXPECT_EQ("second", login->Text("password"));
  try {
    login->Text("Password");
    ADD_FAILURE() << "a column the row lacks was read";
  } catch (const StorageError& error) {
    EXPECT_STREQ("CPPSQLITE_ERROR[1000]: Invalid field name requested", error.Message());
    EXPECT_EQ("SELECT * FROM account WHERE name = 'Alpha'", error.Statement());
  }
  EXPECT_EQ(1u, sites->List().size());
}

TEST_P(StoreTest, HistoryFinishesItsJobAndAKeptRowLandsOnce) {
  const auto history = MakeHistoryStore(Paths());
  const std::int64_t job = history->StartJob(0, 4, "Launch", {"a", "b"}, 45000);
  ASSERT_NE(0, job);
  SiteRecord record;
  record.site = "a";
  record.completed = true;
  history->RecordSite(job, 4, record);
  record.reason = "again";
  history->RecordSite(job, 4, record);  // replaces the record of its position
  const std::optional<JournalJob> read = history->ReadJob(job);
  ASSERT_TRUE(read);
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), read->sites);
  ASSERT_EQ(1u, read->ended.size());
  EXPECT_TRUE(read->ended[0].completed);
  EXPECT_EQ("again", read->ended[0].reason);
  EXPECT_EQ(std::vector<std::int64_t>{job}, history->UnfinishedJobs());

  history->Append({"Launch", "45000.5", "Success", "report", "a"}, job, 45000.5);
  EXPECT_TRUE(history->UnfinishedJobs().empty());
  EXPECT_FALSE(history->ReadJob(job));
  EXPECT_EQ("report", history->Find(1)->row.content);
  EXPECT_FALSE(history->TimeBefore(1));
  ASSERT_EQ(1u, history->JobSites(1).size());
  EXPECT_EQ("again", history->JobSites(1)[0].record.reason);

  // A kept row lands once, however often it is taken up (a crash between its
  // commit and the deletion of its file takes it up again).
  const KeptHistoryRow later{{"Later", "45001", "Failed", "it's\r\nr2", ""}, 0, 45001, ""};
  ASSERT_NE("", history->Keep(later.row, 0, 45001));
  RecordingTrace trace;
  EXPECT_EQ(1, history->WriteKept(trace));
  ASSERT_NE("", KeepHistoryRow(SpoolDirectory(), later));
  EXPECT_EQ(1, history->WriteKept(trace));
  EXPECT_EQ("2", Scalar("SELECT count(*) FROM history"));
  EXPECT_EQ("it's\r\nr2", history->Find(2)->row.content);
  EXPECT_EQ("45000.5", history->TimeBefore(2));
  ASSERT_EQ(2u, history->List().size());
  EXPECT_EQ("Later", history->List()[1].row.name);
}

// A kept row that finishes a job links the job to the row once written, so the
// row shows the evidence of the job's sites.
TEST_P(StoreTest, AKeptRowThatFinishesAJobFindsTheJobsSites) {
  const auto history = MakeHistoryStore(Paths());
  const std::int64_t job = history->StartJob(0, 4, "Launch", {"a"}, 45000);
  SiteRecord record;
  record.site = "a";
  record.completed = true;
  history->RecordSite(job, 4, record);
  ASSERT_NE("", history->Keep({"Launch", "45000.5", "Success", "report", "a"}, job, 45000.5));
  RecordingTrace trace;
  EXPECT_EQ(1, history->WriteKept(trace));
  EXPECT_TRUE(history->UnfinishedJobs().empty());
  const std::vector<SiteOutcome> sites = history->JobSites(1);
  ASSERT_EQ(1u, sites.size());
  EXPECT_EQ("a", sites[0].record.site);
  EXPECT_EQ(1, sites[0].historyId);
}

// A site marked as sending its release is read back with the job until the
// site's end replaces the mark; a finished job takes no mark.
TEST_P(StoreTest, SubmittingMarkIsReadBackUntilTheSitesEnd) {
  const auto history = MakeHistoryStore(Paths());
  const std::int64_t job = history->StartJob(0, 4, "Launch", {"a", "b"}, 45000);
  EXPECT_FALSE(history->ReadJob(job)->submitting);
  ASSERT_TRUE(history->MarkSubmitting(job, {0, "http://a.test/form", 45000.25}));
  ASSERT_TRUE(history->MarkSubmitting(job, {1, "http://b.test/form", 45000.5}));
  std::optional<JournalJob> read = history->ReadJob(job);
  ASSERT_TRUE(read && read->submitting);
  EXPECT_EQ(1, read->submitting->position);
  EXPECT_EQ("http://b.test/form", read->submitting->address);
  EXPECT_DOUBLE_EQ(45000.5, read->submitting->since);

  SiteRecord record;
  record.site = "a";  // another site's end leaves the mark
  history->RecordSite(job, 4, record);
  EXPECT_TRUE(history->ReadJob(job)->submitting);
  record.position = 1;
  record.site = "b";
  history->RecordSite(job, 4, record);
  read = history->ReadJob(job);
  ASSERT_TRUE(read);
  EXPECT_FALSE(read->submitting);
  EXPECT_EQ(2u, read->ended.size());

  history->Append({"Launch", "45001", "Failed", "report", "a,b"}, job, 45001);
  EXPECT_FALSE(history->MarkSubmitting(job, {0, "http://a.test/form", 45001}));
}

// A kept file that can never be applied (an older version's statements for
// the files, one of them wrong) is set aside once, traced at error, and the
// files after it are written: one kept as data, one of the first data format.
TEST_P(StoreTest, AKeptFileThatCannotBeAppliedIsSetAsideOnceAndHoldsUpNoOther) {
  const auto history = MakeHistoryStore(Paths());
  const std::string bad = SpoolDirectory() + "/spooled-0-old.sql";
  std::ofstream(bad) << "BEGIN IMMEDIATE;\nINSERT INTO history (name, nosuch) VALUES ('old', 1);\n"
                        "COMMIT;\n";
  ASSERT_NE("", history->Keep({"Kept", "45002", "Success", "c", ""}, 0, 45002));
  std::ofstream(SpoolDirectory() + "/spooled-9-first-format.row")
      << "veltrane kept history row 1\nname 5\nFirst\ntime 5\n45003\nstatus 7\nSuccess\n"
         "content 1\nd\nsubscription 0\n\nfinishes 1\n0\nnow 5\n45003\nholder 0\n\n";
  RecordingTrace trace;
  EXPECT_EQ(2, history->WriteKept(trace));
  EXPECT_EQ(0, history->WriteKept(trace));
  EXPECT_EQ("2", Scalar("SELECT count(*) FROM history"));
  EXPECT_EQ("First", Scalar("SELECT name FROM history WHERE time = '45003'"));
  const std::string failed = SpoolDirectory() + "/spool-failed/spooled-0-old.sql";
  EXPECT_FALSE(std::filesystem::exists(bad));
  EXPECT_EQ("BEGIN IMMEDIATE;\nINSERT INTO history (name, nosuch) VALUES ('old', 1);\nCOMMIT;\n",
            testing::FileBytes(failed));
  int setAside = 0;
  for (const std::string& line : trace.lines)
    if (line.starts_with("Kept statement " + bad)) {
      ++setAside;
      EXPECT_NE(std::string::npos, line.find("; moved to " + failed)) << line;
      EXPECT_EQ(TracePriority::Error, TracePriorityOf(line)) << line;
    }
  EXPECT_EQ(1, setAside);
}

// A file cut short is neither written nor deleted: an older version's
// statements without their COMMIT, a kept row without its end.
TEST_P(StoreTest, AKeptFileCutShortIsNeitherWrittenNorDeleted) {
  const auto history = MakeHistoryStore(Paths());
  const std::string statements =
      "BEGIN IMMEDIATE;\nINSERT INTO history (name,time,status,content,subscription) "
      "VALUES ('Cut','45001','Success','c','');\n";
  std::ofstream(SpoolDirectory() + "/spooled-0-cut.sql") << statements;
  const std::string row = history->Keep({"Cut too", "45002", "Success", "c", ""}, 0, 45002);
  ASSERT_NE("", row);
  std::string rowText = testing::FileBytes(row);
  rowText.resize(rowText.size() - 3);
  std::ofstream(row, std::ios::binary | std::ios::trunc) << rowText;

  RecordingTrace trace;
  EXPECT_EQ(0, history->WriteKept(trace));
  EXPECT_EQ("0", Scalar("SELECT count(*) FROM history"));
  EXPECT_EQ(statements, testing::FileBytes(SpoolDirectory() + "/spool-failed/spooled-0-cut.sql"));
  EXPECT_EQ(rowText, testing::FileBytes(SpoolDirectory() + "/spool-failed/" +
                                        std::filesystem::path(row).filename().string()));
  ASSERT_EQ(2u, trace.lines.size());
  for (const std::string& line : trace.lines)
    EXPECT_NE(std::string::npos, line.find(" cannot be applied (")) << line;
}

// A trial is a finished job without history; its outcome is found by site.
TEST_P(StoreTest, TrialsAndOutcomesCarryTheSitesEvidence) {
  const auto history = MakeHistoryStore(Paths());
  SiteRecord record;
  record.site = "Alpha";
  record.reason = "Nothing happened after submit";
  record.started = 45000.25;
  record.ended = 45000.5;
  record.evidence = {404, "Thanks", 3, "shot.png", "form changed: missing x", "refused"};
  history->RecordTrial("Launch", record);
  EXPECT_TRUE(history->UnfinishedJobs().empty());
  const std::vector<SiteOutcome> outcomes = history->SiteOutcomes("Alpha", 5);
  ASSERT_EQ(1u, outcomes.size());
  EXPECT_TRUE(outcomes[0].trial);
  EXPECT_EQ(0, outcomes[0].historyId);
  EXPECT_EQ("Launch", outcomes[0].pressRelease);
  const SiteEvidence& evidence = outcomes[0].record.evidence;
  EXPECT_EQ(404, evidence.lastStatus);
  EXPECT_EQ("Thanks", evidence.successText);
  EXPECT_EQ(3, evidence.pages);
  EXPECT_EQ("shot.png", evidence.screenshot);
  EXPECT_EQ("form changed: missing x", evidence.notes);
  EXPECT_EQ("refused", evidence.networkError);
  EXPECT_DOUBLE_EQ(45000.5, outcomes[0].record.ended);
  EXPECT_TRUE(history->SiteOutcomes("Beta", 5).empty());
}

// The report's answers: history rows newest first through their filters
// (times written with a point or a comma), the sites failing now, and each
// site's record over a period; sites in byte order on either backend.
TEST_P(StoreTest, JournalReportAnswersWhatFailedAndHowOften) {
  const auto history = MakeHistoryStore(Paths());
  history->Append({"Old", "45000,5", "Partial", "r", "a"}, 0, 0);
  history->Append({"Mid", "45001.5", "Success", "r", "a"}, 0, 0);
  history->Append({"New", "45002.5", "Failed", "r", "a"}, 0, 0);
  history->Append({"Odd", "no time", "Failed", "r", "a"}, 0, 0);
  const auto report = MakeJournalReport(Paths());
  const auto names = [&](int limit, std::optional<double> since = std::nullopt,
                         bool failedOnly = false) {
    HistoryFilter filter;
    filter.limit = limit;
    filter.since = since;
    filter.failedOnly = failedOnly;
    std::vector<std::string> listed;
    for (const HistoryEntry& entry : report->History(filter)) listed.push_back(entry.row.name);
    return listed;
  };
  using Names = std::vector<std::string>;
  EXPECT_EQ((Names{"Odd", "New", "Mid", "Old"}), names(0));
  EXPECT_EQ((Names{"Odd", "New"}), names(2));
  EXPECT_EQ((Names{"New", "Mid"}), names(0, 45001.5));
  EXPECT_EQ((Names{"New"}), names(1, 45000.0, true));
  EXPECT_EQ((Names{"Odd", "New", "Old"}), names(0, std::nullopt, true));
  EXPECT_EQ(4, report->History({})[0].id);
  EXPECT_EQ("", report->History({})[0].row.content);

  EXPECT_TRUE(report->FailingSites(1).empty());
  const auto outcome = [&](const char* site, double ended, const char* reason, const char* shot) {
    SiteRecord record;
    record.site = site;
    record.completed = *reason == '\0';
    record.reason = reason;
    record.ended = ended;
    record.lastUrl = std::string("http://") + site + "/";
    record.evidence.screenshot = shot;
    history->RecordTrial("Launch", record);
  };
  // Alpha completed, then failed twice; Zed never completed; beta completed last.
  outcome("Alpha", 45000.1, "", "");
  outcome("Alpha", 45001.1, "No form", "a1.png");
  outcome("Zed", 45001.2, "Timeout", "z.png");
  outcome("beta", 45000.3, "Timeout", "b.png");
  outcome("beta", 45002.3, "", "");
  const std::int64_t job = history->StartJob(0, 1, "Launch", {"Alpha"}, 45002);
  SiteRecord last;
  last.site = "Alpha";
  last.reason = "Timeout";
  last.ended = 45002.1;
  history->RecordSite(job, 1, last);  // a job still running counts too

  const std::vector<FailingSite> failing = report->FailingSites(1);
  ASSERT_EQ(2u, failing.size());
  EXPECT_EQ("Alpha", failing[0].site);
  EXPECT_EQ(2, failing[0].failuresInARow);
  ASSERT_TRUE(failing[0].lastCompleted);
  EXPECT_DOUBLE_EQ(45000.1, *failing[0].lastCompleted);
  EXPECT_DOUBLE_EQ(45002.1, failing[0].lastEnded);
  EXPECT_EQ("Timeout", failing[0].lastReason);
  EXPECT_EQ("", failing[0].lastScreenshot);  // the newest outcome's
  EXPECT_EQ("Zed", failing[1].site);
  EXPECT_FALSE(failing[1].lastCompleted);
  EXPECT_EQ("z.png", failing[1].lastScreenshot);
  EXPECT_EQ("http://Zed/", failing[1].lastUrl);
  ASSERT_EQ(1u, report->FailingSites(2).size());
  EXPECT_EQ("Alpha", report->FailingSites(2)[0].site);
  EXPECT_TRUE(report->FailingSites(3).empty());

  const std::vector<SiteStats> recent = report->Stats(45000.5);
  ASSERT_EQ(3u, recent.size());
  EXPECT_EQ("Alpha", recent[0].site);
  EXPECT_EQ(2, recent[0].runs);
  EXPECT_EQ(0, recent[0].completed);
  EXPECT_EQ(2, recent[0].failed);
  EXPECT_EQ("Timeout", recent[0].commonReason);  // as common as "No form", and newer
  EXPECT_EQ(1, recent[0].commonReasonCount);
  EXPECT_EQ("Zed", recent[1].site);
  EXPECT_EQ("beta", recent[2].site);
  EXPECT_EQ(1, recent[2].completed);
  EXPECT_EQ("", recent[2].commonReason);
  const std::vector<SiteStats> all = report->Stats(0);
  ASSERT_EQ(3u, all.size());
  EXPECT_EQ(3, all[0].runs);
  EXPECT_EQ(1, all[0].completed);
  EXPECT_EQ("Timeout", all[2].commonReason);
  EXPECT_EQ(1, all[2].failed);
}

// A table the store needs is named when it is missing, on either backend.
TEST_P(StoreTest, MissingTableIsNamed) {
  Run("DROP TABLE schedule");
  try {
    MakeScheduleStore(Paths())->Check();
    ADD_FAILURE() << "no error";
  } catch (const StorageError& error) {
    EXPECT_EQ(StorageError::Kind::MissingTable, error.What());
    EXPECT_EQ("schedule", error.Detail());
  }
  EXPECT_NO_THROW(MakeHistoryStore(Paths())->Check());
}

}  // namespace
}  // namespace veltrane
