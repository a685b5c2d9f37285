#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "admin/script_check.h"

namespace veltrane::admin {
namespace {

TEST(ScriptCheckTest, DescribesEachStepInTheEnginesOrderOfRules) {
  const ScriptCheck check = CheckScript(
      "[STEP1]\n"
      "APP-GotoLink = http://s/login?a=b=c\n"
      "[step2]\n"
      "APP-FormPos=0\nuser=$$username$$\npass = $$password$$\nuser=second\n"
      "[STEP3]\n"
      "APP-UniqueString=Welcome\nAPP-Skipable=TRUE\nAPP-WaitForRedirect=1\n"
      "[STEP4]\n"
      "APP-SuccessString=Thank you\n");
  ASSERT_EQ(4u, check.steps.size());
  EXPECT_EQ("opens http://s/login?a=b=c", check.steps[0].action);
  EXPECT_EQ("fills form #0 and submits it", check.steps[1].action);
  // As the step is loaded: every keyed line, each with its key's last value.
  EXPECT_EQ((std::vector<std::string>{"APP-FormPos=0", "user=second", "pass=$$password$$",
                                      "user=second"}),
            check.steps[1].lines);
  EXPECT_EQ((std::vector<std::string>{"user", "pass"}), check.steps[1].fields);
  EXPECT_EQ(
      "goes on when the page contains \"Welcome\" (else skips to the next step); then waits for "
      "the next page and handles it with STEP4",
      check.steps[2].action);
  EXPECT_EQ("ends the site: succeeded when the page contains \"Thank you\", else failed",
            check.steps[3].action);
  EXPECT_EQ((std::vector<std::string>{"STEP2: key 'user' is written twice; the last value counts"}),
            check.warnings);
}

TEST(ScriptCheckTest, WarnsAboutWhatIsLikelyAMistake) {
  const struct {
    std::string script;
    std::string warning;  // one of the warnings given
  } cases[] = {
      {"x=1\n[STEP1]\nAPP-GotoLink=u\n", "lines before the first section are ignored"},
      {"[STEP1]\nAPP-Note=n\n[STEP2]\nAPP-SuccessString=ok\n",
       "STEP1 does nothing; the site fails there with \"Invalid setting\""},
      {"[STEP1]\nAPP-UniqueString=Hi\n[STEP2]\nAPP-SuccessString=ok\n",
       "STEP1: nothing follows the check of \"Hi\"; the site fails there with \"Invalid setting\""},
      {"[STEP1]\nAPP-Url=u\n",
       "STEP1 does nothing; as the last step it ends the site as succeeded"},
      {"[STEP1]\nAPP-GotoLink=u\n[STEP3]\nAPP-SuccessString=ok\n",
       "[STEP3] is never reached: the steps end at STEP1 (STEP2 is missing or empty)"},
      {"[STEP1]\nAPP-GotoLink=u\n[STEP2]\n[STEP3]\nAPP-SuccessString=ok\n",
       "[STEP2] is empty, so the steps end at STEP1"},
      {"[STEP1]\nAPP-GotoLink=u\n[STEP02]\nAPP-SuccessString=ok\n",
       "[STEP02] is never read: step numbers have no leading zero"},
      {"[STEP0]\na=b\n[STEP1]\nAPP-GotoLink=u\n", "[STEP0] is never read: steps count from 1"},
      {"[Login]\na=b\n[STEP1]\nAPP-GotoLink=u\n", "[Login] is not a step and is ignored"},
      {"[STEP1]\nAPP-GotoLink=u\n[STEP1]\nAPP-GotoLink=v\n",
       "[STEP1] appears more than once; only the last one is read"},
      {"[STEP1]\nAPP-SucessString=ok\n",
       "STEP1: key 'APP-SucessString' is not a directive; did you mean APP-SuccessString?"},
      {"[STEP1]\nAPP_FormPos=0\n",
       "STEP1: key 'APP_FormPos' is not a directive; did you mean APP-FormPos? (it is taken for a "
       "form field)"},
      {"[STEP1]\napp-formpos=0\nuser=x\n",
       "STEP1: key 'app-formpos' works as APP-FormPos, but is also taken for a form field; write "
       "'APP-' in capitals"},
      {"[STEP1]\nAPP-FormPos=first\nuser=x\n",
       "STEP1: APP-FormPos 'first' is not a plain integer; it reads as 0"},
      {"[STEP1]\nAPP-WaitForRedirect=1 please\n",
       "STEP1: APP-WaitForRedirect '1 please' is not a plain integer; it reads as 1"},
      {"[STEP1]\nAPP-WaitForRedirect=2\n", "STEP1: APP-WaitForRedirect is 2; only 1 waits"},
      {"[STEP1]\nuser=x\nAPP-GotoLink=u\n", "STEP1: fields user are never filled"},
      {"[STEP1]\nAPP-SuccessString=ok\nAPP-FormPos=0\n",
       "STEP1: ignored by what the step does: APP-FormPos"},
      {"[STEP1]\nAPP-FormPos=0\nAPP-GotoLink=u\nf=1\n",
       "STEP1: ignored by what the step does: APP-GotoLink"},
      {"[STEP1]\nAPP-Skipable=true\nAPP-GotoLink=u\n",
       "STEP1: ignored by what the step does: APP-Skipable (no APP-UniqueString)"},
      {"[STEP1]\njust text\nAPP-GotoLink=u\n", "STEP1: a line without '=' is ignored"},
      {"[STEP1]\nAPP-GotoLink=u\n[STEP2] ; thanks\nAPP-SuccessString=ok\n",
       "'[STEP2] ; thanks' is not a section: nothing may follow the ']' (write comments on a line "
       "of their own, starting with ';')"},
      {"[STEP2]\nAPP-SuccessString=ok\n",
       "[STEP2] is never reached: the script has no steps (STEP1 is missing or empty)"},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> warnings = CheckScript(c.script).warnings;
    EXPECT_NE(warnings.end(), std::find(warnings.begin(), warnings.end(), c.warning))
        << c.script << "\ngave:\n"
        << FormatScriptCheck(CheckScript(c.script));
  }
}

TEST(ScriptCheckTest, ScriptWithoutStepOneIsAnError) {
  const char* scripts[] = {"", "; nothing\n", "[STEP1]\n", "[STEP1] ; login\nAPP-GotoLink=u\n",
                           "[STEP2]\nAPP-GotoLink=u\n"};
  for (const char* script : scripts) {
    const ScriptCheck check = CheckScript(script);
    EXPECT_EQ(std::vector<std::string>{std::string(kNoStepsError)}, check.errors) << script;
    EXPECT_TRUE(check.steps.empty()) << script;
  }
  EXPECT_EQ(
      "error: Site script has no steps: the first step needs a [STEP1] section with at least one "
      "line\n",
      FormatScriptCheck(CheckScript("")));
  EXPECT_TRUE(CheckScript("[STEP1]\nAPP-GotoLink=u\n").errors.empty());
}

// The service would lose everything after the NUL, success check and all.
TEST(ScriptCheckTest, ScriptWithANulByteIsAnError) {
  using namespace std::string_literals;
  const ScriptCheck check =
      CheckScript("[STEP1]\nAPP-GotoLink=u\n\0[STEP2]\nAPP-SuccessString=ok\n"s);
  EXPECT_EQ(std::vector<std::string>{std::string(kNulByteError)}, check.errors);
  EXPECT_EQ((std::vector<std::string>{std::string(kNulByteError), std::string(kNoStepsError)}),
            CheckScript("\0"s).errors);
}

TEST(ScriptCheckTest, SoundScriptsAndOrdinaryFieldNamesGiveNoWarning) {
  const char* scripts[] = {
      "; comment\n[STEP1]\nAPP-FormPos = 0x1\napplicant=$$contact_person$$\nappend=1\n"
      "APP-SubmitButtonValue=Send\n[STEP2]\nAPP-SuccessString=Thanks\n",
      "[STEP1]\nAPP-FormPos=-1\nAPP-SearchLinkPattern=submit news\nAPP-ErrorString=no link\n",
      "[STEP1]\nAPP-formpos=$A\nusername=u\n",
      "\xEF\xBB\xBF[STEP1]\r\nAPP-GotoLink=u\r\n",  // a byte-order mark is ignored
  };
  for (const char* script : scripts) {
    EXPECT_EQ("", [&] {
      const ScriptCheck check = CheckScript(script);
      std::string all;
      for (const std::string& error : check.errors) all += error + "\n";
      for (const std::string& warning : check.warnings) all += warning + "\n";
      return all;
    }()) << script;
  }
}

TEST(ScriptCheckTest, PlainIntegersAreThoseTheServiceReadsWhole) {
  for (const char* good : {"0", "-1", "+2", "  3", "$1F", "x10", "X0a", "0x1F", "0XfF"})
    EXPECT_TRUE(IsPlainScriptInteger(good)) << good;
  for (const char* bad : {"", "-", "1x", "$", "0x", "1 ", "-$1", "one", "1.5"})
    EXPECT_FALSE(IsPlainScriptInteger(bad)) << bad;
}

}  // namespace
}  // namespace veltrane::admin
