// Report text, site list, status and history insert (with the
// failed-submission section), under the C locale and a decimal-comma locale.
#include "jobs/report.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <string>

#include "platform/day_clock.h"
#include "storage/stores.h"
#include "tests/support/scoped_locale.h"
#include "tests/support/test_database.h"
namespace veltrane {
namespace {

using testing::TestDatabases;

using testing::ScopedLocale;

const char* const kGerman = "de_DE.UTF-8";

TEST(ReportStatusTest, FromOutcomes) {
  EXPECT_EQ("Success", ReportStatus({}, {}));
  EXPECT_EQ("Success", ReportStatus({"a"}, {}));
  EXPECT_EQ("Partial", ReportStatus({"a"}, {"b"}));
  EXPECT_EQ("Failed", ReportStatus({}, {"b"}));
  EXPECT_EQ("Failed", ReportStatus({}, {"b", "c"}));
}

TEST(CommaTextTest, QuotingRules) {
  struct Case {
    std::vector<std::string> entries;
    const char* text;
  };
  const Case cases[] = {
      {{}, ""},
      {{""}, "\"\""},
      {{"a", ""}, "a,"},
      {{"", "b"}, ",b"},
      {{"a.com", "b.com"}, "a.com,b.com"},
      {{"with blank"}, "\"with blank\""},
      {{"a,b"}, "\"a,b\""},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
      {{"tab\there"}, "\"tab\there\""},
      {{"O'Brien"}, "O'Brien"},
      {{"caf\xC3\xA9"}, "caf\xC3\xA9"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, CommaText(c.entries)) << c.text;
}

TEST(SiteListValueTest, CompletedThenFailed) {
  EXPECT_EQ("", SiteListValue({}, {}));
  EXPECT_EQ("a,b", SiteListValue({"a", "b"}, {}));
  EXPECT_EQ(",x,y", SiteListValue({}, {"x", "y"}));  // all failed: begins with ","
  EXPECT_EQ("a,\"x y\"", SiteListValue({"a"}, {"x y"}));
}

TEST(ReportTextTest, NoSitesIsSevenLines) {
  EXPECT_EQ(
      "PR Scheduled Submission Report\r\n"
      "-----------------------------\r\n"
      "\r\n"
      "Press Release : Launch\r\n"
      "Report Time   : 03/15/23 18:00:00\r\n"
      "\r\n"
      "Complete submission : \r\n",
      BuildReportText("Launch", "03/15/23 18:00:00", {}, {}, {}));
}

TEST(ReportTextTest, MixedListsFailuresApartWithReasons) {
  EXPECT_EQ(
      "PR Scheduled Submission Report\r\n"
      "-----------------------------\r\n"
      "\r\n"
      "Press Release : P\r\n"
      "Report Time   : T\r\n"
      "\r\n"
      "Complete submission : \r\n"
      " - good one\r\n"
      " - b,c\r\n"
      "\r\n"
      "Failed submission : \r\n"
      " - bad (Timeout)\r\n"
      " - O'Brien (Form not found)\r\n",
      BuildReportText("P", "T", {"good one", "b,c"}, {"bad", "O'Brien"},
                      {"Timeout", "Form not found"}));
}

TEST(ReportTextTest, AllFailedListsNoCompletedSite) {
  EXPECT_EQ(
      "PR Scheduled Submission Report\r\n"
      "-----------------------------\r\n"
      "\r\n"
      "Press Release : P\r\n"
      "Report Time   : T\r\n"
      "\r\n"
      "Complete submission : \r\n"
      "\r\n"
      "Failed submission : \r\n"
      " - x (Timeout)\r\n"
      " - y ()\r\n",  // a reason that was never recorded reads as empty
      BuildReportText("P", "T", {}, {"x", "y"}, {"Timeout"}));
}

class SaveReportTest : public ::testing::Test {
 protected:
  // Records the sites as ended, in order: completed without a reason, failed with one.
  void Ended(const std::vector<std::pair<std::string, std::string>>& sites) {
    for (const auto& [site, reason] : sites) {
      SiteRecord record;
      record.site = site;
      record.completed = reason.empty();
      record.reason = reason;
      state.outcome.Sites.push_back(record);
    }
  }
  bool Save() {
    return SaveReport(state, DatabasePaths{databases.MainPath(), "", ""}, trace, clock);
  }
  std::string Column(const char* column) {
    return databases.MainScalar(std::string("SELECT ") + column + " FROM history");
  }

  TestDatabases databases;
  RecordingTrace trace;
  ManualClock clock{45000.75};  // 2023-03-15 18:00:00
  JobState state;
};

TEST_F(SaveReportTest, NoSitesUnderCLocale) {
  ScopedLocale locale("C");
  state.PressReleaseName = "Launch";
  ASSERT_TRUE(Save());
  EXPECT_EQ("Launch", Column("name"));
  EXPECT_EQ("45000.75", Column("time"));
  EXPECT_EQ("Success", Column("status"));
  EXPECT_EQ("", Column("subscription"));
  EXPECT_EQ(
      "PR Scheduled Submission Report\r\n-----------------------------\r\n\r\n"
      "Press Release : Launch\r\nReport Time   : 03/15/23 18:00:00\r\n\r\n"
      "Complete submission : \r\n",
      Column("content"));
  EXPECT_TRUE(trace.lines.empty()) << trace.lines.front();
}

TEST_F(SaveReportTest, MidnightLeavesTheTimeOut) {
  ScopedLocale locale("C");
  clock.Set(45000.0);
  ASSERT_TRUE(Save());
  EXPECT_NE(std::string::npos, Column("content").find("Report Time   : 03/15/23\r\n"));
  EXPECT_EQ("45000", Column("time"));
}

TEST_F(SaveReportTest, DecimalCommaLocale) {
  ScopedLocale locale(kGerman);
  if (!locale.ok()) GTEST_SKIP() << kGerman << " is not installed";
  state.PressReleaseName = "P";
  Ended({{"a", ""}});
  ASSERT_TRUE(Save());
  EXPECT_EQ("45000,75", Column("time"));
  EXPECT_NE(std::string::npos, Column("content").find("Report Time   : 15.03.2023 18:00:00\r\n"));
}

TEST_F(SaveReportTest, MixedOutcomeIsPartialWithQuotedNamesStoredOnce) {
  ScopedLocale locale("C");
  state.PressReleaseName = "O'Brien's \"news\", today";
  Ended({{"site one", ""}, {"a,b", "Can't find form"}, {"x'y", ""}});
  ASSERT_TRUE(Save());
  EXPECT_EQ("O'Brien's \"news\", today", Column("name"));
  EXPECT_EQ("Partial", Column("status"));
  EXPECT_EQ("\"site one\",x'y,\"a,b\"", Column("subscription"));
  const std::string content = Column("content");
  EXPECT_NE(std::string::npos, content.find("Press Release : O'Brien's \"news\", today\r\n"));
  EXPECT_NE(std::string::npos,
            content.find("Complete submission : \r\n - site one\r\n - x'y\r\n\r\n"
                         "Failed submission : \r\n - a,b (Can't find form)\r\n"));
}

TEST_F(SaveReportTest, AllFailedIsFailed) {
  ScopedLocale locale("C");
  Ended({{"x", "Timeout"}, {"y", "Timeout"}});
  ASSERT_TRUE(Save());
  EXPECT_EQ("Failed", Column("status"));
  EXPECT_EQ(",x,y", Column("subscription"));
}

TEST_F(SaveReportTest, DatabaseErrorIsShownWithTheStatement) {
  ScopedLocale locale("C");
  databases.Main("DROP TABLE history");
  state.PressReleaseName = "P";
  EXPECT_FALSE(Save());
  const std::string expected =
      "INSERT INTO history (name,time,status,content,subscription) VALUES ('P','45000.75',"
      "'Success','PR Scheduled Submission Report\r\n-----------------------------\r\n\r\n"
      "Press Release : P\r\nReport Time   : 03/15/23 18:00:00\r\n\r\nComplete submission : "
      "\r\n','')\r\n1 : SQLITE_ERROR[1]: no such table: history";
  EXPECT_EQ(expected, trace.lines.back());
}

// The statement shown for a failed insert carries every value as an SQL
// literal, single quotes doubled.
TEST_F(SaveReportTest, FailedInsertShowsItsValuesQuoted) {
  ScopedLocale locale("C");
  databases.Main("DROP TABLE history");
  state.PressReleaseName = "O'Brien";
  Ended({{"a,'b'", ""}});
  EXPECT_FALSE(Save());
  ASSERT_FALSE(trace.lines.empty());
  const std::string& shown = trace.lines.back();
  EXPECT_EQ(0u, shown.find("INSERT INTO history (name,time,status,content,subscription) VALUES "
                           "('O''Brien','45000.75','Success','PR Scheduled"))
      << shown;
  EXPECT_NE(std::string::npos, shown.find("Press Release : O''Brien\r\n")) << shown;
  EXPECT_NE(std::string::npos, shown.find("','\"a,''b''\"')\r\n1 : SQLITE_ERROR[1]: no such "
                                          "table: history"))
      << shown;
}

TEST_F(SaveReportTest, RowThatCannotBeWrittenIsKeptAndWrittenOnceLater) {
  ScopedLocale locale("C");
  databases.Main("ALTER TABLE history RENAME TO away");
  state.PressReleaseName = "P's";
  Ended({{"a", ""}});
  EXPECT_FALSE(Save());
  const std::string kept = trace.lines.front().substr(std::string("Report kept in ").size());
  ASSERT_EQ(0u, trace.lines.front().find("Report kept in ")) << trace.lines.front();
  struct stat info {};
  ASSERT_EQ(0, stat(kept.substr(0, kept.find(" until")).c_str(), &info)) << kept;
  EXPECT_EQ(0600u, info.st_mode & 0777);

  const std::unique_ptr<HistoryStore> history = MakeHistoryStore(databases.Paths());
  EXPECT_EQ(0, history->WriteKept(trace));  // still no table
  databases.Main("ALTER TABLE away RENAME TO history");
  EXPECT_EQ(1, history->WriteKept(trace));
  EXPECT_EQ(0, history->WriteKept(trace));  // deleted
  EXPECT_EQ("P's|a", Column("name") + "|" + Column("subscription"));
  EXPECT_EQ("1", databases.MainScalar("SELECT count(*) FROM history"));
}

}  // namespace
}  // namespace veltrane
