// Filling a form of the page model from the step's values.
#include "forms/form_filling.h"

#include <gtest/gtest.h>

#include "tests/support/page_action_printing.h"
#include "tests/support/step_value_printing.h"

namespace veltrane {
namespace {

using Lines = std::vector<std::string>;
using Values = std::vector<StepValue>;
using Kind = PageAction::Kind;

FormElement Input(std::string name, std::string type, std::string value = "",
                  bool checked = false) {
  FormElement element;
  element.kind = ElementKind::Input;
  element.name = std::move(name);
  element.type = std::move(type);
  element.value = std::move(value);
  element.checked = checked;
  return element;
}

FormElement OfKind(ElementKind kind, std::string name) {
  FormElement element;
  element.kind = kind;
  element.name = std::move(name);
  return element;
}

FormElement Select(std::string name, std::vector<SelectOption> options) {
  FormElement element = OfKind(ElementKind::Select, std::move(name));
  element.options = std::move(options);
  element.selectedIndex = element.options.empty() ? -1 : 0;
  return element;
}

Page PageWithForm(std::vector<FormElement> elements) {
  Page page;
  page.forms.push_back(PageForm{});  // a banner form that must stay untouched
  page.forms.emplace_back().elements = std::move(elements);
  return page;
}

JobState StateWithStep(Values step) {
  JobState state;
  state.site.StepValues = std::move(step);
  state.release.Headline = "Big news";
  state.release.CompanyName = "Acme || Sons";
  state.release.Country = "Germany";
  return state;
}

PageAction Value(int element, std::string value) {
  return {Kind::SetValue, 1, element, std::move(value), -1};
}
PageAction Checked(int element) { return {Kind::SetChecked, 1, element, {}, -1}; }
PageAction Selected(int element, int index) {
  return {Kind::SetSelectedIndex, 1, element, {}, index};
}

std::vector<PageAction> Fill(Page& page, const JobState& state) {
  RecordingTrace trace;
  FillForm(page, 1, state.release, state.site, trace);
  return page.Actions();
}

TEST(DecodeLineBreaksTest, EveryPairOfBarsBecomesCrLf) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"a||b", "a\r\nb"},
      {"||", "\r\n"},
      {"|||", "\r\n|"},
      {"||||", "\r\n\r\n"},
      {"a|b", "a|b"},
      {"a|| ||b", "a\r\n \r\nb"},
  };
  for (const auto& [text, decoded] : cases) EXPECT_EQ(decoded, DecodeLineBreaks(text)) << text;
}

TEST(ListOptionsTest, ValueBlankTextInListOrder) {
  EXPECT_EQ((Lines{"de Germany", " Choose", "x "}),
            ListOptions(Select("c", {{"de", "Germany"}, {"", "Choose"}, {"x", ""}})));
  EXPECT_TRUE(ListOptions(Select("c", {})).empty());
}

TEST(FindStepValueTest, FirstKeyIgnoringCaseAndAnEmptyValueIsNoMissingOne) {
  const Values step = {
      {"url", "http://a.test/?a=b&c=d"}, {"Title", "one"}, {"TITLE", "two"}, {"empty", ""}};
  EXPECT_EQ("http://a.test/?a=b&c=d", FindStepValue(step, "URL"));
  EXPECT_EQ("one", FindStepValue(step, "title"));
  EXPECT_EQ("", FindStepValue(step, "empty"));
  EXPECT_EQ(std::nullopt, FindStepValue(step, "missing"));
  EXPECT_EQ(std::nullopt, FindStepValue(step, " title"));
  EXPECT_EQ(std::nullopt, FindStepValue({}, ""));
}

TEST(FillFormTest, TextInputsTextAreasHiddenAndSubmitGetTheWantedText) {
  Page page = PageWithForm({
      Input("title", "text", "old"),
      Input("title", "text"),
      OfKind(ElementKind::TextArea, "body"),
      Input("token", "hidden", "abc"),
      Input("send", "submit", "Send"),
      Input("company", "text"),
      Input("note", "text", "keep"),
      Input("url", "url"),
      Input("empty", "text", "was"),
      OfKind(ElementKind::Other, "title"),
  });
  const JobState state = StateWithStep({{"TITLE", "$$headline$$"},
                                        {"body", "line one||line two"},
                                        {"token", "t"},
                                        {"send", "Go"},
                                        {"Company", "$$company$$"},
                                        {"url", "http://a.test/?a=b"},
                                        {"empty", ""},
                                        {"APP-FormPos", "1"}});
  EXPECT_EQ((std::vector<PageAction>{Value(0, "Big news"), Value(1, "Big news"),
                                     Value(2, "line one\r\nline two"), Value(3, "t"),
                                     Value(4, "Go"), Value(5, "Acme || Sons"),
                                     Value(7, "http://a.test/?a=b"), Value(8, "")}),
            Fill(page, state));
  EXPECT_EQ("Go", page.forms[1].elements[4].value);  // later reads see the new caption
  EXPECT_EQ("keep", page.forms[1].elements[6].value);
}

TEST(FillFormTest, RadioGroupChecksOnlyTheMatchingValue) {
  Page page = PageWithForm({Input("type", "radio", "news", true), Input("type", "radio", "Event"),
                            Input("type", "radio", "other")});
  EXPECT_EQ((std::vector<PageAction>{Checked(1)}), Fill(page, StateWithStep({{"type", "EVENT"}})));
}

TEST(FillFormTest, CheckBoxIsCheckedOnMatchAndNeverUnchecked) {
  Page page =
      PageWithForm({Input("agree", "checkbox", "yes"), Input("list", "checkbox", "on", true),
                    Input("terms", "checkbox", "on")});
  EXPECT_EQ((std::vector<PageAction>{Checked(0)}),
            Fill(page, StateWithStep({{"agree", "Yes"}, {"list", "no"}, {"terms", "off"}})));
  EXPECT_TRUE(page.forms[1].elements[1].checked);
  EXPECT_FALSE(page.forms[1].elements[2].checked);
}

TEST(FillFormTest, UnnamedOrUnlistedElementsStayAsThePageMadeThem) {
  Page page = PageWithForm({Input("", "text", "x"), Input(" title ", "text"),
                            Select("country", {{"1", "a"}, {"2", "b"}})});
  EXPECT_TRUE(Fill(page, StateWithStep({{"title", "x"}, {"APP-FormPos", "1"}})).empty());
  RecordingTrace trace;
  const JobState state = StateWithStep({{"title", "x"}});
  FillForm(page, 2, state.release, state.site, trace);  // no such form
  EXPECT_TRUE(page.Actions().empty());
}

TEST(FillFormTest, SelectChoices) {
  const std::vector<SelectOption> countries = {
      {"0", "Choose"}, {"de", "Germany"}, {"us", "United States"}, {"fr", "France"}};
  const std::vector<SelectOption> categories = {
      {"0", "Choose"}, {"1", "Arts"}, {"2", "Technology"}, {"3", "Business"}};
  struct Case {
    const char* what;
    std::string stepValue;
    std::vector<SelectOption> options;
    std::string country;
    int index;
  };
  const std::vector<Case> cases = {
      {"country keyword", "$$country", countries, "France", 3},
      {"country keyword in any case", "$$CounTRY", countries, "France", 3},
      {"country keyword falls back to US", "$$country", countries, "Narnia", 2},
      {"placeholder looked up without fallbacks", "$$country$$", countries, "Narnia", 1},
      {"placeholder finds the country", "$$country$$", countries, "france", 3},
      {"category keyword uses the site's line", "$$category$$", categories, "", 2},
      {"category keyword in any case", "$$CATEGORY$$", categories, "", 2},
      {"plain text", "tech", categories, "", 2},
      {"first option found", "choose", categories, "", 0},
      {"nothing fits", "sports", categories, "", 1},
      {"empty step value", "", categories, "", 1},
      {"single option still gets index 1", "sports", {{"0", "Only"}}, "", 1},
      {"list without options", "x", {}, "", 1},
      {"line breaks decoded first", "a||b", {{"0", "x"}, {"1", "a"}, {"2", "a\r\nb"}}, "", 2},
  };
  for (const Case& c : cases) {
    Page page = PageWithForm({Select("list", c.options)});
    JobState state = StateWithStep({{"list", c.stepValue}});
    state.release.Country = c.country;
    state.site.CurrentSite = "news.test";
    state.release.SiteCategories = {"other.test=Arts", "NEWS.test= Technology \t",
                                    "news.test=Business"};
    EXPECT_EQ((std::vector<PageAction>{Selected(0, c.index)}), Fill(page, state)) << c.what;
  }
}

TEST(FillFormTest, CategoryKeywordWithoutSiteLineFallsBackToBusiness) {
  Page page =
      PageWithForm({Select("cat", {{"0", "Choose"}, {"7", "Internet"}, {"9", "Business"}})});
  JobState state = StateWithStep({{"cat", "$$category$$"}});
  state.site.CurrentSite = "news.test";
  state.release.SiteCategories = {"other.test=Internet"};
  state.release.Category = "Internet";  // the placeholder's value is not what the keyword uses
  RecordingTrace trace;
  FillForm(page, 1, state.release, state.site, trace);
  EXPECT_EQ((std::vector<PageAction>{Selected(0, 2)}), page.Actions());
  EXPECT_EQ("Cannot found selected category , continue to search business", trace.lines.at(1));
}

// The first step entry for each filled control decides, as FillForm reads it.
TEST(FillWritesLoginTest, OnlyValuesTheFillUsesForAControlCount) {
  // Form 1: a text input, a list and a button tag; form 0 is empty.
  const Page page = PageWithForm({Input("name", "text"), OfKind(ElementKind::Select, "kind"),
                                  OfKind(ElementKind::Other, "go")});
  struct Case {
    Values step;
    bool writes;
  };
  const std::vector<Case> cases = {
      {{{"NAME", "$$UserName$$"}}, true},
      {{{"name", "x $$PASSWORD$$ y"}}, true},
      {{{"kind", "$$password$$"}}, true},
      {{{"name", "$$company$$"}, {"pw", "$$password$$"}}, false},  // no control named pw
      {{{"go", "$$password$$"}}, false},                           // a button tag is never filled
      {{{"name", "plain"}, {"name", "$$password$$"}}, false},      // the first entry wins
      {{{"APP-FormPos", "1"}, {"name", "$$user$$"}}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.writes, FillWritesLogin(page, 1, c.step)) << c.step.back().value;
    EXPECT_FALSE(FillWritesLogin(page, 0, c.step)) << c.step.back().value;
    EXPECT_FALSE(FillWritesLogin(page, 2, c.step)) << c.step.back().value;
  }
}

// Compared as form location compares: trimmed, A-Z case ignored, button tags not controls.
TEST(MissingControlsTest, NamesTheStepFieldsTheFormLacksInStepOrder) {
  const Page page = PageWithForm({Input("Headline", "text"), OfKind(ElementKind::TextArea, "body"),
                                  OfKind(ElementKind::Other, "go"), Input("", "submit")});
  const PageForm& form = page.forms[1];
  EXPECT_EQ(Lines{}, MissingControls(form, {" headline", "BODY\t"}));
  EXPECT_EQ((Lines{"summary", "go"}), MissingControls(form, {"summary", "body", "go"}));
  EXPECT_EQ(Lines{"x"}, MissingControls(page.forms[0], {"x"}));
}

}  // namespace
}  // namespace veltrane
