// Site-script parsing, typed steps and directives, LoadStep, IsLastStep and
// integer reading.
#include "engine/site_script.h"

#include <gtest/gtest.h>

#include <climits>

#include "platform/text_lists.h"
#include "tests/support/step_value_printing.h"

namespace veltrane {
namespace {

using Lines = std::vector<std::string>;
using Values = std::vector<StepValue>;

Values ScriptStepValues(std::string_view script, int n) { return SiteSteps(script).Step(n).values; }
bool IsLastScriptStep(std::string_view script, int n) { return IsLastStep(SiteSteps(script), n); }

TEST(SiteScriptTest, StepLinesInOrderWithTrimmedKeysAndValues) {
  const char* script =
      "[STEP1]\r\n"
      "  title  =  Hello world  \r\n"
      "\tAPP-FormPos=0\r\n"
      "APP-SubmitButtonValue=Send\r\n";
  EXPECT_EQ(
      (Values{{"title", "Hello world"}, {"APP-FormPos", "0"}, {"APP-SubmitButtonValue", "Send"}}),
      ScriptStepValues(script, 1));
}

TEST(SiteScriptTest, LineBreaksOfEveryKind) {
  EXPECT_EQ((Values{{"a", "1"}, {"b", "2"}, {"c", "3"}}),
            ScriptStepValues("[STEP1]\na=1\rb=2\r\nc=3", 1));
}

TEST(SiteScriptTest, ValuesKeepFurtherEqualsSigns) {
  EXPECT_EQ((Values{{"APP-GotoLink", "http://x.test/a?b=1&c=2"}}),
            ScriptStepValues("[STEP1]\nAPP-GotoLink = http://x.test/a?b=1&c=2", 1));
}

TEST(SiteScriptTest, CommentsAndLinesBeforeFirstSectionHaveNoEffect) {
  const char* script =
      "a=before\n"
      "; [STEP1]\n"
      "[STEP1]\n"
      ";b=commented\n"
      "   ; c=indented comment\n"
      "\n"
      "d=4\n";
  EXPECT_EQ((Values{{"d", "4"}}), ScriptStepValues(script, 1));
}

TEST(SiteScriptTest, SectionNamesIgnoreCaseAndBlanksInBrackets) {
  const Values a1 = {{"a", "1"}};
  EXPECT_EQ(a1, ScriptStepValues("[step1]\na=1", 1));
  EXPECT_EQ(a1, ScriptStepValues("[ Step1 ]\na=1", 1));
  EXPECT_EQ(a1, ScriptStepValues("  [STEP1]  \na=1", 1));
}

TEST(SiteScriptTest, LeadingZeroNeverNamesAStep) {
  EXPECT_TRUE(ScriptStepValues("[STEP01]\na=1", 1).empty());
  EXPECT_TRUE(IsLastScriptStep("[STEP1]\na=1\n[STEP02]\nb=2", 1));
}

TEST(SiteScriptTest, LastOfDuplicatedSectionsWins) {
  const char* script = "[STEP2]\na=first\nx=1\n[STEP1]\nq=0\n[step2]\na=second\n";
  EXPECT_EQ((Values{{"a", "second"}}), ScriptStepValues(script, 2));
}

TEST(SiteScriptTest, EmptyLastDuplicateHidesEarlierSection) {
  const char* script = "[STEP1]\na=1\n[STEP2]\nb=2\n[STEP2]\n; nothing\n";
  EXPECT_TRUE(ScriptStepValues(script, 2).empty());
  EXPECT_TRUE(IsLastScriptStep(script, 1));
}

TEST(SiteScriptTest, DuplicatedKeyGivesTwoEntriesWithTheLaterValue) {
  EXPECT_EQ((Values{{"name", "second"}, {"other", "x"}, {"NAME", "second"}}),
            ScriptStepValues("[STEP1]\nname=first\nother=x\nNAME=second", 1));
}

TEST(SiteScriptTest, LinesWithoutKeyAreSkipped) {
  EXPECT_EQ((Values{{"a", "1"}, {"b", ""}}),
            ScriptStepValues("[STEP1]\njust text\na=1\n=orphan\nb=", 1));
}

TEST(SiteScriptTest, MissingSectionGivesEmptyStep) {
  EXPECT_TRUE(ScriptStepValues("", 1).empty());
  EXPECT_TRUE(ScriptStepValues("[STEP2]\na=1", 1).empty());
  EXPECT_TRUE(ScriptStepValues("[STEP1]\na=1", 0).empty());
}

TEST(SiteScriptTest, IsLastStepLooksAtTheNextSection) {
  const char* script = "[STEP1]\na=1\n[STEP2]\nb=2\n[STEP3]\n\n;only a comment\n";
  EXPECT_FALSE(IsLastScriptStep(script, 1));
  EXPECT_TRUE(IsLastScriptStep(script, 2));  // STEP3 has no line
  EXPECT_TRUE(IsLastScriptStep(script, 3));
  EXPECT_TRUE(IsLastScriptStep("", 0));
  EXPECT_FALSE(IsLastScriptStep("[STEP1]\nx=1", 0));
}

TEST(SiteScriptTest, KeylessLineMakesSectionPresentButStepEmpty) {
  const char* script = "[STEP1]\na=1\n[STEP2]\nno equals sign here\n";
  EXPECT_FALSE(IsLastScriptStep(script, 1));
  EXPECT_TRUE(ScriptStepValues(script, 2).empty());
}

TEST(SiteScriptTest, LoadStepReplacesStepValues) {
  JobState state;
  state.site.SiteScript = "[STEP1]\na=1\n[STEP2]\nb=2";
  state.site.StepValues = {{"old", "1"}};
  LoadStep(state, SiteSteps(state.site.SiteScript), 2);
  EXPECT_EQ((Values{{"b", "2"}}), state.site.StepValues);
  LoadStep(state, SiteSteps(state.site.SiteScript), 5);
  EXPECT_TRUE(state.site.StepValues.empty());
  EXPECT_FALSE(IsLastScriptStep(state.site.SiteScript, 1));
  EXPECT_TRUE(IsLastScriptStep(state.site.SiteScript, 2));
}

TEST(SiteScriptTest, ByteOrderMarkAtTheStartIsIgnored) {
  const std::string script = "\xEF\xBB\xBF[STEP1]\r\na=1\r\n[STEP2]\r\nb=2\r\n";
  EXPECT_EQ((Values{{"a", "1"}}), ScriptStepValues(script, 1));
  EXPECT_FALSE(IsLastScriptStep(script, 1));
  EXPECT_TRUE(ScriptHasSteps(script));
  // Only one mark, and only at the very start: a second one is text.
  EXPECT_FALSE(ScriptHasSteps("\xEF\xBB\xBF\xEF\xBB\xBF[STEP1]\na=1"));
  EXPECT_EQ("x\xEF\xBB\xBF", WithoutByteOrderMark("x\xEF\xBB\xBF"));
}

TEST(SiteScriptTest, ScriptHasStepsWhenStepOneHoldsALine) {
  const struct {
    const char* script;
    bool hasSteps;
  } cases[] = {
      {"", false},
      {"a=1\n", false},
      {"[STEP1]\n", false},
      {"[STEP1]\n; only a comment\n\n", false},
      {"[STEP1] ; login\nAPP-GotoLink=u\n", false},  // not a section line
      {"[STEP2]\nAPP-GotoLink=u\n", false},
      {"[STEP01]\nAPP-GotoLink=u\n", false},
      {"[STEP1]\nAPP-GotoLink=u\n[STEP1]\n", false},  // the last STEP1 is empty
      {"[STEP1]\nAPP-GotoLink=u\n", true},
      {"[ step1 ]\njust text\n", true},
  };
  for (const auto& c : cases) EXPECT_EQ(c.hasSteps, ScriptHasSteps(c.script)) << c.script;
}

TEST(ParsedScriptTest, ValueLookupIgnoresCaseAndTakesLastOccurrence) {
  const ParsedScript script("[Step1]\nKey=one\nkey=two\n[other]\nkey=three");
  EXPECT_EQ("two", script.Value("STEP1", "KEY"));
  EXPECT_EQ("three", script.Value("OTHER", "key"));
  EXPECT_EQ("", script.Value("STEP1", "missing"));
  EXPECT_EQ("", script.Value("missing", "key"));
}

TEST(ReadScriptIntegerTest, Cases) {
  struct Case {
    const char* text;
    int value;
  };
  const Case cases[] = {
      {"0", 0},
      {"1", 1},
      {"12", 12},
      {"-1", -1},
      {"+7", 7},
      {"007", 7},
      {"2abc", 2},
      {"1a", 1},
      {"abc", 0},
      {"", 0},
      {"   3", 3},
      {"3 4", 3},
      {"-", 0},
      {"+", 0},
      {"-x", 0},
      {"$1F", 31},
      {"x10", 16},
      {"X10", 16},
      {"0x1f", 31},
      {"0X1F", 31},
      {"$", 0},
      {"0x", 0},
      {"$1G", 1},
      {"$FFFFFFFF", -1},
      {"-$10", 0},
      {"1.5", 1},
      {"2147483647", 2147483647},
      {"99999999999", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"-99999999999", -2147483647 - 1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value, ReadScriptInteger(c.text)) << '"' << c.text << '"';
}

// APP-FormPos and APP-WaitForRedirect of a step, as the engine reads them.
int FormPosition(const Values& values) { return ReadDirectives(values).formPosition; }
int WaitForRedirectValue(const Values& values) { return ReadDirectives(values).wait; }

TEST(FormPositionTest, FromStepValues) {
  EXPECT_EQ(-1, FormPosition({}));
  EXPECT_EQ(-1, FormPosition({{"APP-FormPos", ""}}));
  EXPECT_EQ(-1, FormPosition({{"APP-FormPos", "-1"}}));
  EXPECT_EQ(0, FormPosition({{"APP-FormPos", "0"}}));
  EXPECT_EQ(1, FormPosition({{"APP-FormPos", "1b"}}));
  EXPECT_EQ(0, FormPosition({{"APP-FormPos", "form"}}));  // letters only: form 0
  EXPECT_EQ(2, FormPosition({{"app-formpos", "2"}}));     // lookups ignore case
  EXPECT_EQ(3, FormPosition({{"APP-FormPos", "3"}, {"APP-FormPos", "4"}}));
}

TEST(FormPositionTest, ThroughTheScript) {
  const SiteSteps steps(
      "[STEP1]\nAPP-FormPos = 1x\nAPP-WaitForRedirect=\n[STEP2]\nAPP-WaitForRedirect=1");
  EXPECT_EQ(1, steps.Step(1).directives.formPosition);
  EXPECT_EQ(0, steps.Step(1).directives.wait);
  EXPECT_EQ(-1, steps.Step(2).directives.formPosition);
  EXPECT_EQ(1, steps.Step(2).directives.wait);
  // The values a step loads read as the step's own directives.
  JobState state;
  LoadStep(state, steps, 1);
  EXPECT_EQ(steps.Step(1).directives, ReadDirectives(state.site.StepValues));
  LoadStep(state, steps, 2);
  EXPECT_EQ(steps.Step(2).directives, ReadDirectives(state.site.StepValues));
}

TEST(WaitForRedirectTest, Values) {
  EXPECT_EQ(0, WaitForRedirectValue({}));
  EXPECT_EQ(0, WaitForRedirectValue({{"APP-WaitForRedirect", ""}}));
  EXPECT_EQ(1, WaitForRedirectValue({{"APP-WaitForRedirect", "1"}}));
  EXPECT_EQ(1, WaitForRedirectValue({{"APP-WaitForRedirect", "01"}}));
  EXPECT_EQ(0, WaitForRedirectValue({{"APP-WaitForRedirect", "yes"}}));
  EXPECT_EQ(16, WaitForRedirectValue({{"APP-WaitForRedirect", "$10"}}));
}

TEST(StepDirectivesTest, EveryDirectiveOfTheTableIsReadIntoItsOwnValue) {
  const StepDirectives none = ReadDirectives({});
  std::vector<StepDirectives> seen;
  for (const DirectiveInfo& directive : StepDirectiveTable()) {
    const char* value = directive.value == DirectiveValue::Boolean   ? "TRUE"
                        : directive.value == DirectiveValue::Integer ? "7"
                                                                     : "some words";
    const std::string key = LowerAscii(directive.key);  // lookups ignore case
    const StepDirectives read = ReadDirectives({{key, value}});
    EXPECT_NE(none, read) << directive.key;
    for (const StepDirectives& other : seen) EXPECT_NE(other, read) << directive.key;
    seen.push_back(read);
    EXPECT_EQ(&directive, FindDirective(key));
    EXPECT_TRUE(IsDirectiveKey(directive.key));
    EXPECT_FALSE(IsDirectiveKey(key));
    const bool readAndUnused = directive.key == "APP-Url" || directive.key == "APP-Note" ||
                               directive.key == "APP-PossibleRedirectToStep";
    EXPECT_EQ(!readAndUnused, directive.acted) << directive.key;
  }
  EXPECT_EQ(14u, seen.size());
  EXPECT_EQ(nullptr, FindDirective("APP-Unknown"));
}

TEST(StepDirectivesTest, TypedValues) {
  const StepDirectives step = ReadDirectives({{"APP-Skipable", "True"},
                                              {"APP-FormPos", ""},
                                              {"APP-WaitForRedirect", "1x"},
                                              {"APP-SearchLinkPattern", "a b"},
                                              {"APP-GotoLink", "http://x.test/?a=b"}});
  EXPECT_EQ(std::optional(true), step.skipable);
  EXPECT_TRUE(step.Skip());
  EXPECT_EQ(-1, step.formPosition);
  EXPECT_EQ(1, step.wait);
  EXPECT_EQ("a b", step.pattern);
  EXPECT_EQ("http://x.test/?a=b", step.address);
  EXPECT_EQ(std::optional(false), ReadDirectives({{"APP-Skipable", "yes"}}).skipable);
  EXPECT_EQ(std::nullopt, ReadDirectives({{"APP-Skipable", ""}}).skipable);
  EXPECT_FALSE(ReadDirectives({}).Skip());
}

// The fields are the keys that name form controls: a key holding "APP-" as
// written is a directive, a lower-case one is taken for a control as well.
TEST(SiteStepsTest, FieldsLeaveOutKeysContainingAppAsWritten) {
  const SiteSteps steps(
      "[STEP1]\ntitle=$$headline$$\nAPP-FormPos=1\napp-formpos=1\nX-APP-Y=1\n"
      "url=http://a.test/?a=b\nbody=\n");
  EXPECT_EQ((Lines{"title", "app-formpos", "url", "body"}), steps.Step(1).fields);
}

TEST(SiteStepsTest, StepsHoldTheirValuesFieldsAndDirectives) {
  const SiteSteps steps(
      "[STEP1]\nuser=a\nAPP-FormPos=1\napp-note=x\nuser=b\n"
      "[step2]\njust text\n[STEP03]\nx=1\n[STEP-1]\ny=2\n[STEP0]\nz=3\n"
      "[STEP4]\nw=1\n[STEP4]\nw=2\n");
  const ScriptStep& first = steps.Step(1);
  EXPECT_TRUE(first.present);
  EXPECT_EQ((Values{{"user", "b"}, {"APP-FormPos", "1"}, {"app-note", "x"}, {"user", "b"}}),
            first.values);
  EXPECT_EQ((Lines{"user", "app-note", "user"}), first.fields);
  EXPECT_EQ(1, first.directives.formPosition);
  EXPECT_EQ("x", first.directives.note);

  EXPECT_TRUE(steps.Step(2).present);  // a line without "=" still counts
  EXPECT_TRUE(steps.Step(2).values.empty());
  EXPECT_FALSE(steps.Step(3).present);  // STEP03 is no step
  EXPECT_EQ((Values{{"w", "2"}}), steps.Step(4).values);
  EXPECT_EQ((Values{{"y", "2"}}), steps.Step(-1).values);
  EXPECT_EQ((Values{{"z", "3"}}), steps.Step(0).values);
  EXPECT_EQ(2, steps.Count());
  EXPECT_FALSE(IsLastStep(steps, 1));
  EXPECT_TRUE(IsLastStep(steps, 2));
  EXPECT_TRUE(IsLastStep(steps, INT_MAX));

  JobState state;
  LoadStep(state, steps, 4);
  EXPECT_EQ((Values{{"w", "2"}}), state.site.StepValues);
}

}  // namespace
}  // namespace veltrane
