#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <string>
#include <vector>

#include "platform/date_text.h"
#include "platform/day_clock.h"
#include "platform/number_text.h"
#include "platform/paths.h"
#include "platform/stderr_trace.h"
#include "platform/text_lists.h"
#include "platform/visible_text.h"
#include "tests/support/scoped_locale.h"

namespace veltrane {
namespace {

TEST(DayClock, CalendarDatesMapToDayNumbersBothWays) {
  struct Case {
    CalendarTime time;
    double day;
  };
  const std::vector<Case> cases = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},      {{1899, 12, 31, 12, 0, 0, 0}, 1.5},
      {{1900, 3, 1, 0, 0, 0, 0}, 61.0},  // no phantom 29 February 1900
      {{2023, 3, 16, 18, 0, 0, 0}, 45001.75}, {{2024, 2, 29, 6, 0, 0, 0}, 45351.25},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},  // before the epoch the fraction still counts forward
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(c.day, DayNumberFromCalendar(c.time)) << c.time.year << "-" << c.time.month;
    const CalendarTime back = CalendarFromDayNumber(c.day);
    EXPECT_EQ(c.time.year, back.year) << c.day;
    EXPECT_EQ(c.time.month, back.month) << c.day;
    EXPECT_EQ(c.time.day, back.day) << c.day;
    EXPECT_EQ(c.time.hour, back.hour) << c.day;
    EXPECT_EQ(c.time.minute, back.minute) << c.day;
  }
}

TEST(DayClock, FractionsRoundToWholeMillisecondsAndWeekdaysFollow) {
  // A third of a day is 08:00:00.000, not 07:59:59.999.
  const CalendarTime third = CalendarFromDayNumber(45000 + 1.0 / 3.0);
  EXPECT_EQ(8, third.hour);
  EXPECT_EQ(0, third.minute);
  EXPECT_EQ(0, third.second);
  EXPECT_EQ(0, third.millisecond);
  EXPECT_EQ(6, CalendarFromDayNumber(0).weekday);      // Saturday
  EXPECT_EQ(4, CalendarFromDayNumber(45001).weekday);  // Thursday, 16 March 2023
  EXPECT_EQ(45001, WholeDate(45001.999));
}

TEST(DayClock, SystemClockAgreesWithTheLocalCalendar) {
  const double now = SystemClock().Now();
  std::time_t seconds = std::time(nullptr);
  std::tm local{};
  localtime_r(&seconds, &local);
  const CalendarTime today = CalendarFromDayNumber(now);
  EXPECT_EQ(local.tm_year + 1900, today.year);
  EXPECT_EQ(local.tm_mon + 1, today.month);
  EXPECT_NEAR(local.tm_mday, today.day, 1);  // midnight may pass between the reads
}

TEST(DayClock, AJumpingClockReadsItsOffsetOnlyOnceItsMomentHasPassed) {
  const ManualClock base(45000.5);
  EXPECT_DOUBLE_EQ(45000.5, JumpingClock(base, std::chrono::hours(1), -1.0 / 24).Now());
  EXPECT_DOUBLE_EQ(45000.5 - 1.0 / 24, JumpingClock(base, std::chrono::hours(0), -1.0 / 24).Now());
}

TEST(DateText, UtcOffsetsAreSignedHoursAndMinutes) {
  EXPECT_EQ("UTC+00:00", UtcOffsetText(0));
  EXPECT_EQ("UTC+05:30", UtcOffsetText(19800));
  EXPECT_EQ("UTC-03:00", UtcOffsetText(-10800));
}

TEST(NumberText, SqlTextHasFifteenDigitsAPointAndNoExponent) {
  const std::vector<std::pair<double, std::string>> cases = {
      {45001.75, "45001.75"},
      {45001.0, "45001"},
      {0.0, "0"},
      {145001.5, "145001.5"},
      {45001.123456789012345, "45001.123456789"},  // 15 significant digits, then zeros dropped
      {1.0 / 1440.0, "0.000694444444444444"},
      {-2.5, "-2.5"},
      {99999.999999999999, "100000"},
  };
  for (const auto& [value, want] : cases) EXPECT_EQ(want, SqlNumberText(value)) << value;
}

TEST(NumberText, DecimalCommaLocaleChangesOnlyTheLocaleVariant) {
  {
    testing::ScopedLocale decimalComma("de_DE.UTF-8");
    ASSERT_TRUE(decimalComma.ok()) << "de_DE.UTF-8 must be generated";
    EXPECT_EQ("45001.75", SqlNumberText(45001.75));
    EXPECT_EQ("45001,75", LocaleNumberText(45001.75));
    EXPECT_EQ("45001", LocaleNumberText(45001.0));
  }
  EXPECT_EQ("45001.75", LocaleNumberText(45001.75));
}

TEST(TextLists, SplitLinesHandlesEveryBreakAndKeepsEmptyEntries) {
  using Lines = std::vector<std::string>;
  const std::vector<std::pair<std::string, Lines>> cases = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\rb\nc", {"a", "b", "c"}},
      {"a\r\n", {"a"}},            // a final break adds no entry
      {"a\n\nb", {"a", "", "b"}},  // an empty line between two breaks is an entry
      {"\r\n", {""}},
      {"a\n\r b ", {"a", "", " b "}},  // LF then CR is two breaks; nothing is trimmed
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(want, SplitLines(text)) << text;
}

TEST(TextLists, LookupValueIgnoresCaseTakesFirstMatchAndFirstEquals) {
  const std::vector<std::string> lines = {
      "Email=first@example.com", "city", "EMAIL=second", "url=a=b", "empty=", " spaced =x"};
  EXPECT_EQ("first@example.com", LookupValue(lines, "email"));
  EXPECT_EQ("a=b", LookupValue(lines, "URL"));
  EXPECT_EQ("", LookupValue(lines, "empty"));
  EXPECT_EQ("", LookupValue(lines, "city"));  // a line without "=" has no value
  EXPECT_EQ("", LookupValue(lines, "missing"));
  EXPECT_EQ("x", LookupValue(lines, " spaced "));  // names are not trimmed
  EXPECT_EQ("", LookupValue(lines, "spaced"));
}

TEST(Paths, ExecutableDirectoryEndsWithASeparatorAndHoldsThisBinary) {
  const std::string directory = ExecutableDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_EQ('/', directory.back());
  EXPECT_EQ(0, access((directory + "platform_test").c_str(), X_OK));
}

}  // namespace
}  // namespace veltrane

namespace veltrane {
namespace {

TEST(StderrTraceTest, EachTextIsOneStampedLine) {
  ManualClock clock(45001.75);
  std::FILE* out = std::tmpfile();
  ASSERT_NE(nullptr, out);
  StderrTrace trace(clock, out);
  EXPECT_TRUE(trace.TraceLine("Current site : alpha"));
  EXPECT_TRUE(trace.TraceLine("a\r\nb"));
  EXPECT_TRUE(trace.TraceLine("page \x1b]52;c;SGk=\x07"));
  std::rewind(out);
  char buffer[256] = {};
  const std::size_t read = std::fread(buffer, 1, sizeof buffer - 1, out);
  std::fclose(out);
  EXPECT_EQ(
      "2023-03-16 18:00:00.000 Current site : alpha\n2023-03-16 18:00:00.000 a\\r\\nb\n"
      "2023-03-16 18:00:00.000 page \\u001b]52;c;SGk=\\u0007\n",
      std::string(buffer, read));
  // Stamped to the millisecond, so that one page's handling can be read.
  EXPECT_EQ("2023-03-16 18:00:01.123", TraceStampText(45001.75 + 1.123 / 86400));
  EXPECT_EQ("2023-03-16 17:59:59.999", TraceStampText(45001.75 - 0.001 / 86400));
}

// Controls are shown, never passed on; layout and every other character,
// valid UTF-8 or not, pass unchanged.
TEST(VisibleTextTest, ControlsAreShownEscapedAndAllElsePasses) {
  const struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"plain \t text\nnext", "plain \t text\nnext"},
      {"\x1b[2J\x07\x7f", "\\u001b[2J\\u0007\\u007f"},
      {std::string("a\0b\r", 4), "a\\u0000b\\r"},
      {"\x1f \x20", "\\u001f  "},
      {"\xc2\x80\xc2\x9b\xc2\x9f\xc2\xa0", "\\u0080\\u009b\\u009f\xc2\xa0"},
      {"\xe2\x82\xac caf\xc3\xa9", "\xe2\x82\xac caf\xc3\xa9"},  // 0x82 inside a character
      {"\x9b"
       "1m \x80 \xe9\xff",
       "\\x9b1m \\x80 \xe9\xff"},  // bytes that are not UTF-8
      {"\xc2", "\xc2"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.shown, VisibleText(c.text)) << c.text;
}

}  // namespace
}  // namespace veltrane
