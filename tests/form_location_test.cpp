// Which form a step fills: control names, signatures, LocateForm.
#include "engine/form_location.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

using Names = std::vector<std::string>;

FormElement Element(ElementKind kind, std::string name, std::string type = "") {
  FormElement element;
  element.kind = kind;
  element.name = std::move(name);
  element.type = std::move(type);
  return element;
}

PageForm FormOf(std::vector<FormElement> elements) {
  PageForm form;
  form.elements = std::move(elements);
  return form;
}

// A search banner before the submission form, as many sites have.
Page BannerAndSubmissionPage() {
  Page page;
  page.forms.push_back(FormOf(
      {Element(ElementKind::Input, "q", "text"), Element(ElementKind::Input, "go", "submit")}));
  page.forms.push_back(FormOf(
      {Element(ElementKind::Input, "title", "text"), Element(ElementKind::TextArea, "body"),
       Element(ElementKind::Select, "country"), Element(ElementKind::Input, "send", "submit")}));
  return page;
}

TEST(FormControlNamesTest, InputsTextAreasAndSelectsOnlyInElementOrder) {
  const PageForm form = FormOf({
      Element(ElementKind::Input, "a", "hidden"),
      Element(ElementKind::Other, "button-tag"),
      Element(ElementKind::TextArea, "b"),
      Element(ElementKind::Input, "", "text"),
      Element(ElementKind::Select, " c "),
      Element(ElementKind::Input, "a", "image"),
      Element(ElementKind::Other, "fieldset"),
  });
  EXPECT_EQ((Names{"a", "b", "", " c ", "a"}), FormControlNames(form));
}

TEST(ListFormSignaturesTest, FormWithoutControlNamesCountsAsZero) {
  Page page;
  page.forms.push_back(FormOf({}));
  page.forms.push_back(FormOf({Element(ElementKind::Other, "go")}));
  page.forms.push_back(FormOf({Element(ElementKind::Input, "x", "text")}));
  EXPECT_EQ((std::vector<FormSignature>{{"0"}, {"0"}, {"x"}}), ListFormSignatures(page));
  EXPECT_TRUE(ListFormSignatures(Page{}).empty());
}

TEST(FormHasFieldsTest, TrimmedKeysMatchUntrimmedNamesIgnoringCase) {
  struct Case {
    Names fields;
    Names controls;
    bool has;
  };
  const std::vector<Case> cases = {
      {{}, {"a"}, true},
      {{}, {}, true},
      {{"title", "body"}, {"body", "x", "title"}, true},
      {{"TITLE"}, {"Title"}, true},
      {{" title\t"}, {"title"}, true},
      {{"title"}, {" title"}, false},
      {{"title", "body"}, {"title"}, false},
      {{"0"}, {"0"}, true},
      {{"t\xC3\x9C"}, {"t\xC3\xBC"}, false},  // only A-Z fold
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.has, FormHasFields(c.fields, c.controls))
        << ::testing::PrintToString(c.fields) << " in " << ::testing::PrintToString(c.controls);
  }
}

TEST(LocateFormTest, PositionsAndTraces) {
  struct Case {
    const char* what;
    int position;
    Names fields;  // the step's field names (ScriptStep::fields)
    int located;
    Names trace;
  };
  const std::vector<Case> cases = {
      {"negative", -1, {"title"}, -1, {}},
      {"beyond the last form", 2, {"title"}, 2, {}},
      {"named form is right", 1, {"title", "BODY"}, 1, {"Current formpos is correct!"}},
      {"banner before the wanted form", 0, {"title", "body"}, 1, {"Found the correct formpos : 1"}},
      {"key case and blanks", 0, {" Title ", "COUNTRY"}, 1, {"Found the correct formpos : 1"}},
      {"no form has them all",
       0,
       {"title", "nosuch"},
       0,
       {"Still cannot find the correct formpos"}},
      {"lower-case directive is a field",
       1,
       {"title", "app-formpos"},
       1,
       {"Still cannot find the correct formpos"}},
      {"no fields: directives only", 0, {}, 0, {"Current formpos is correct!"}},
      {"a submit input counts", 0, {"send"}, 1, {"Found the correct formpos : 1"}},
  };
  const Page page = BannerAndSubmissionPage();
  for (const Case& c : cases) {
    RecordingTrace trace;
    EXPECT_EQ(c.located, LocateForm(page, c.position, c.fields, trace)) << c.what;
    EXPECT_EQ(c.trace, trace.lines) << c.what;
  }
}

TEST(LocateFormTest, TwoMatchingFormsPreferTheNamedOneElseTheEarlier) {
  Page page;
  page.forms.push_back(FormOf({Element(ElementKind::Input, "other", "text")}));
  page.forms.push_back(FormOf({Element(ElementKind::Input, "email", "text")}));
  page.forms.push_back(FormOf({Element(ElementKind::Input, "email", "text")}));
  RecordingTrace trace;
  EXPECT_EQ(2, LocateForm(page, 2, {"email"}, trace));
  EXPECT_EQ(1, LocateForm(page, 0, {"email"}, trace));
}

TEST(LocateFormTest, ButtonTagNeverCountsAsControl) {
  Page page;
  page.forms.push_back(FormOf({Element(ElementKind::Other, "send")}));
  page.forms.push_back(FormOf({Element(ElementKind::Input, "send", "submit")}));
  RecordingTrace trace;
  EXPECT_EQ(1, LocateForm(page, 0, {"send"}, trace));
}

TEST(GetFormTest, NoneOutsideThePagesForms) {
  const Page page = BannerAndSubmissionPage();
  EXPECT_EQ(nullptr, GetForm(page, -1));
  EXPECT_EQ(nullptr, GetForm(page, 2));
  EXPECT_EQ(&page.forms[1], GetForm(page, 1));
  EXPECT_EQ(nullptr, GetForm(Page{}, 0));
}

}  // namespace
}  // namespace veltrane
