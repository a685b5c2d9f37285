// Which submit control SubmitForm clicks, or whether it submits the form.
#include "forms/form_submission.h"

#include <gtest/gtest.h>

#include "forms/form_filling.h"
#include "tests/support/page_action_printing.h"

namespace veltrane {
namespace {

using Kind = PageAction::Kind;

FormElement Element(ElementKind kind, std::string type, std::string value) {
  FormElement element;
  element.kind = kind;
  element.name = "b";
  element.type = std::move(type);
  element.value = std::move(value);
  return element;
}
FormElement Submit(std::string value) {
  return Element(ElementKind::Input, "submit", std::move(value));
}
FormElement Text(ElementKind kind, std::string type, std::string value, std::string text) {
  FormElement element = Element(kind, std::move(type), std::move(value));
  element.text = std::move(text);
  return element;
}
// A button tag of type submit, as the snapshot gives it.
FormElement Tag(std::string value, std::string text) {
  return Text(ElementKind::Other, "submit", std::move(value), std::move(text));
}

const PageAction kSubmitted{Kind::Submit, 0, -1, {}, -1};
PageAction Clicked(int element) { return {Kind::Click, 0, element, {}, -1}; }

TEST(SubmitFormTest, ChoosesTheButtonOrSubmitsTheForm) {
  const FormElement text = Element(ElementKind::Input, "text", "Send");
  const FormElement image = Element(ElementKind::Input, "image", "Send");
  const FormElement buttonTag = Element(ElementKind::Other, "submit", "Send");
  struct Case {
    const char* what;
    std::vector<FormElement> elements;
    std::string buttonValue;
    PageAction action;
  };
  const std::vector<Case> cases = {
      {"caption Send", {text, Submit("Preview"), Submit("Send")}, "Send", Clicked(2)},
      {"case counts", {Submit("Preview"), Submit("Send")}, "send", kSubmitted},
      {"no trimming", {Submit("Preview"), Submit("Send ")}, "Send", kSubmitted},
      {"empty value takes the first", {text, Submit("Preview"), Submit("Send")}, "", Clicked(1)},
      {"image input only", {text, image}, "", Clicked(1)},
      {"button tag only", {buttonTag}, "", Clicked(0)},
      {"button tag first", {text, buttonTag, Submit("Send")}, "", Clicked(1)},
      {"button tag with the caption", {buttonTag, Submit("Send")}, "Send", Clicked(0)},
      {"button tag by its text",
       {Submit("Preview"), Tag("go", "Send now")},
       "Send now",
       Clicked(1)},
      {"a button tag's text counts, an input's does not",
       {Text(ElementKind::Input, "submit", "x", "Send"), Tag("go", "Send")},
       "Send",
       Clicked(1)},
      {"plain and reset buttons are not sent with",
       {Element(ElementKind::Other, "button", "Send"),
        Element(ElementKind::Other, "reset", "Send")},
       "",
       kSubmitted},
      {"a field set is no button", {Element(ElementKind::Other, "fieldset", "")}, "", kSubmitted},
      {"no elements", {}, "", kSubmitted},
      {"same caption twice", {Submit("Go"), Submit("Go")}, "Go", Clicked(0)},
  };
  for (const Case& c : cases) {
    Page page;
    page.forms.emplace_back().elements = c.elements;
    SubmitForm(page, 0, c.buttonValue);
    EXPECT_EQ(std::vector<PageAction>{c.action}, page.Actions()) << c.what;
  }
}

TEST(SubmitFormTest, ComparesWithTheCaptionTheStepWrote) {
  Page page;
  page.forms.emplace_back().elements = {Submit("Preview"), Submit("Send")};
  page.forms[0].elements[0].name = "preview";
  JobState state;
  state.site.StepValues = {{"preview", "Publish"}};
  RecordingTrace trace;
  FillForm(page, 0, state.release, state.site, trace);
  SubmitForm(page, 0, "Publish");
  EXPECT_EQ(Clicked(0), page.Actions().back());
}

TEST(SubmitFormTest, TheAddressIsThatOfTheControlClicked) {
  PageForm form;
  form.action = "http://127.0.0.1/form";
  form.elements = {Tag("", "Preview"), Tag("", "Send")};
  form.elements[1].formAction = "http://localhost/elsewhere";
  EXPECT_EQ("http://127.0.0.1/form", SubmissionAddress(form, ""));
  EXPECT_EQ("http://localhost/elsewhere", SubmissionAddress(form, "Send"));
  EXPECT_EQ("http://127.0.0.1/form", SubmissionAddress(form, "Nothing"));
}

TEST(SubmitFormTest, NoSuchFormSubmitsNothing) {
  Page page;
  SubmitForm(page, 0, "");
  SubmitForm(page, -1, "");
  EXPECT_TRUE(page.Actions().empty());
}

}  // namespace
}  // namespace veltrane
