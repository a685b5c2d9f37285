// Page: a plain snapshot of a loaded top-level page, and the writes a handler
// makes on it. Reads see earlier writes at once; every write, click and submit
// is also recorded as a PageAction, which the browser control replays on the
// live page, in order, when the handler returns. Elements are addressed by
// (form index, element index) in the snapshot's order. No GTK or WebKit here.
#pragma once

#include <string>
#include <vector>

namespace veltrane {

enum class ElementKind { Input, TextArea, Select, Other };

struct SelectOption {
  std::string value;
  std::string text;  // the displayed text
};

struct FormElement {
  ElementKind kind = ElementKind::Other;
  std::string name;
  // An input's or button tag's type, lower case ("text", "submit", "image", ...).
  // A form-associated custom element is an Input whose type is its tag name,
  // lower case ("star-rating"): a tag name always holds a "-", so no input
  // type is ever taken for one.
  std::string type;
  std::string value;
  bool checked = false;
  int selectedIndex = -1;
  std::vector<SelectOption> options;  // selects only
  // A submit control's own formaction, as an absolute address; empty when it
  // has none and the form's action applies.
  std::string formAction;
  // A button tag's text as a person reads it (blanks collapsed, trimmed); empty
  // for every other element.
  std::string text;
  // Its value or choice was written from the site's login: never shown.
  bool login = false;
};

struct PageForm {
  std::string action;                 // the absolute address the form submits to
  std::string method;                 // "get" or "post" (lower case)
  std::vector<FormElement> elements;  // the form's controls in collection order
};

struct PageAction {
  enum class Kind { SetValue, SetChecked, SetSelectedIndex, Click, Submit };
  Kind kind = Kind::SetValue;
  int form = -1;
  int element = -1;   // -1 for Submit
  std::string value;  // SetValue
  int index = -1;     // SetSelectedIndex
  // SetValue or SetSelectedIndex from the site's login: the control is drawn
  // blank in every picture of the page.
  bool login = false;
  bool operator==(const PageAction&) const = default;
};

class Page {
 public:
  std::string location;            // address of the top-level document
  std::string bodyOuterHtml;       // empty when the page has no body
  std::string source;              // the main resource's bytes, unchanged
  std::string characterSet;        // the document's character set ("UTF-8", "windows-1252", ...)
  int statusCode = 0;              // the main resource's HTTP status; 0 when unknown
  std::vector<PageForm> forms;     // the top-level document's forms
  std::vector<std::string> links;  // absolute hrefs of the top-level document's anchors

  // Writes on the model; each is recorded for replay. Out-of-range indexes
  // are ignored (nothing recorded). `login`: the value comes from the site's
  // login; the element is marked so (FormElement::login) from then on.
  void SetValue(int form, int element, const std::string& value, bool login = false);
  void SetChecked(int form, int element);  // checks; nothing ever unchecks
  void SetSelectedIndex(int form, int element, int index, bool login = false);
  void Click(int form, int element);
  void Submit(int form);

  const std::vector<PageAction>& Actions() const { return actions_; }
  std::vector<PageAction> TakeActions();

 private:
  FormElement* ElementAt(int form, int element);
  std::vector<PageAction> actions_;
};

}  // namespace veltrane
