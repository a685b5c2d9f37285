#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "admin/admin_error.h"
#include "admin/date_text.h"
#include "admin/release_file.h"
#include "admin/screenshots.h"
#include "platform/schedule_rule.h"
#include "storage/press_release_columns.h"

namespace veltrane::admin {
namespace {

// The message of the data error that parsing `text` throws, or "" when it parses.
std::string ParseError(const std::string& text) {
  try {
    ParseReleaseFile(text, "r.txt");
  } catch (const CommandError& error) {
    EXPECT_EQ(kExitData, error.ExitCode()) << text;
    return error.what();
  }
  return "";
}

constexpr const char* kFullFile =
    "# a comment\n"
    "Name: Spring launch\n"
    "headline:  Acme ships the Widget 2 \n"
    "summary: The second Widget: here.\n"
    "category: Technology\n"
    "release_date: 2000-01-01\n"
    "keywords: widgets, , acme\n"
    "keyword: a, b\n"
    "email: press@acme.example\n"
    "company_name: Acme=Ltd\n"
    "category.PR Daily: Computers\n"
    "\n"
    "[body]\n"
    "\n"
    "London. Acme today ...\n"
    "\n"
    "  Indented second paragraph.\n"
    "\n"
    "[ABOUT]\n"
    "Acme makes widgets.\n"
    "[contact]\n"
    "Jane Doe\r\n"
    "press@acme.example\n";

TEST(ReleaseFileTest, ParsesHeaderAndSectionsIntoTheColumnsTheServiceReads) {
  const PressRelease release = ParseReleaseFile(kFullFile, "r.txt");
  EXPECT_EQ("Spring launch", release.Name);
  EXPECT_EQ("Acme ships the Widget 2", release.Headline);
  EXPECT_EQ("The second Widget: here.", release.Summary);
  EXPECT_TRUE(release.ReleaseDateGiven);
  EXPECT_EQ(36526, release.ReleaseDate);
  EXPECT_EQ("widgets\r\nacme\r\na, b", KeywordText(release));
  // Fixed name order, CR LF between lines, "=" inside a value kept.
  EXPECT_EQ("company_name=Acme=Ltd\r\nemail=press@acme.example", ContactDataText(release));
  EXPECT_EQ("PR Daily=Computers", ExtraDataText(release));
  // Blank lines around a section go, inner ones and indentation stay.
  EXPECT_EQ("London. Acme today ...\r\n\r\n  Indented second paragraph.", release.NewsBody);
  EXPECT_EQ("Acme makes widgets.", release.AboutCompany);
  EXPECT_EQ("Jane Doe\r\npress@acme.example", release.ContactDetail);
}

TEST(ReleaseFileTest, ShowOutputReadsBackToTheSameRecord) {
  PressRelease multiLine = ParseReleaseFile(kFullFile, "r.txt");
  multiLine.Summary = "First line\r\nsecond line";
  multiLine.ReleaseDateGiven = false;
  multiLine.ReleaseDate = 0;
  for (const PressRelease& release : {ParseReleaseFile(kFullFile, "r.txt"), multiLine}) {
    const std::string text = FormatReleaseFile(release);
    EXPECT_EQ(release, ParseReleaseFile(text, "shown")) << text;
  }
}

TEST(ReleaseFileTest, MalformedFilesNameTheLineAndTheFault) {
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"headline: x\n", "r.txt: no 'name:' line"},
      {"name: a\nheadline x\n", "r.txt: line 2: expected 'key: value', found 'headline x'"},
      {"name: a\ncolour: red\n", "r.txt: line 2: unknown key 'colour'"},
      {"name: a\nNAME: b\n", "r.txt: line 2: 'NAME' given twice"},
      {"name: a\nrelease_date: 2024-02-30\n",
       "r.txt: line 2: release_date '2024-02-30' is not a date (YYYY-MM-DD)"},
      {"name: a\nrelease_date: 1.5.2024\n",
       "r.txt: line 2: release_date '1.5.2024' is not a date (YYYY-MM-DD)"},
      {"name: a\n\nstray text\n",
       "r.txt: line 3: text outside a section (start it with [body], [about], [contact] or "
       "[summary])"},
      {"name: a\n[body]\nx\n[Body]\n", "r.txt: line 4: section [Body] given twice"},
      {"name: a\nsummary: s\n[summary]\n",
       "r.txt: line 3: summary given both as a key and as a section"},
      {"name: a\ncategory.x: 1\ncategory.X: 2\n",
       "r.txt: line 3: category for site 'X' given twice"},
      {"name: a\ncategory.a=b: 1\n",
       "r.txt: line 2: site name 'a=b' holds '=', which per-site categories cannot key"},
      {"name:  \n", "r.txt: no 'name:' line"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.error, ParseError(c.text)) << c.text;
}

TEST(DateTextTest, ParsesOnlyWellFormedCalendarDatesAndTimes) {
  EXPECT_EQ(36526, ParseDate("2000-01-01"));
  EXPECT_EQ(36526.75, ParseDateTime("2000-01-01 18:00"));
  EXPECT_EQ(36526.5 + 30 / 86400.0, ParseDateTime("2000-01-01 12:00:30"));
  EXPECT_EQ(0.25, ParseDaysOrTime("06:00"));
  EXPECT_EQ(1.5, ParseDaysOrTime("1.5"));
  EXPECT_EQ(-0.25, ParseDaysOrTime("-06:00"));
  EXPECT_EQ(-1, ParseDaysOrTime("-1"));
  for (const char* bad : {"", "2000-1-01", "2000-01-01x", "1899-12-31", "2023-02-29", "2000-13-01"})
    EXPECT_FALSE(ParseDate(bad)) << bad;
  for (const char* bad : {"2000-01-01", "2000-01-01 24:00", "2000-01-01 10:60", "2000-01-01T10:00",
                          "2000-01-01 10:00:", "now"})
    EXPECT_FALSE(ParseDateTime(bad)) << bad;
  for (const char* bad : {"", "-", "--1", "+1", "6:00", "25:00", "abc", "inf", "-nan", "1 day"})
    EXPECT_FALSE(ParseDaysOrTime(bad)) << bad;
}

// A schedule moves on when its frequency's days plus its time are above 0.
TEST(ScheduleRuleTest, ASchedulesNextRunMustLieAfterNow) {
  const struct {
    int frequency;
    double time;
    bool movesOn;
  } cases[] = {
      {0, 0, true},      {1, 0, true},        {2, 0, true},     {3, 0, true},
      {9, 0, false},     {-1, 0, false},      {4, -0.5, false}, {9, 0.5, true},
      {1, -1, false},    {1, -0.99, true},    {2, -7, false},   {3, -30.5, false},
      {0, -99999, true}, {0, -100000, false}, {7, 1e-9, true},  {1, -1.0 - 1e-12, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.movesOn, ScheduleMovesOn(c.frequency, c.time)) << c.frequency << ", " << c.time;
  EXPECT_FALSE(ScheduleMovesOn(1, std::numeric_limits<double>::quiet_NaN()));
}

TEST(DateTextTest, ReadsStoredHistoryTimesWithEitherSeparator) {
  EXPECT_EQ(45001.75, ParseStoredDayNumber("45001.75"));
  EXPECT_EQ(45001.75, ParseStoredDayNumber("45001,75"));
  EXPECT_EQ(45001, ParseStoredDayNumber("45001"));
  EXPECT_FALSE(ParseStoredDayNumber("yesterday"));
  EXPECT_EQ("20230315-180000", FormatDateStamp(45000.75));
  EXPECT_EQ("2023-03-15 18:00:00", FormatDateTime(45000.75));
}

TEST(CommaTextTest, SplitsTheHistorySiteListLikeItIsWritten) {
  const struct {
    std::string text;
    std::vector<std::string> sites;
  } cases[] = {
      {"", {}},
      {"a,b", {"a", "b"}},
      {",a", {"", "a"}},
      {"\"PR Daily\",\"x, y\"", {"PR Daily", "x, y"}},
      {"\"say \"\"hi\"\"\",c", {"say \"hi\"", "c"}},
      {"\"\"", {""}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.sites, ParseCommaText(c.text)) << c.text;
}

}  // namespace
}  // namespace veltrane::admin
