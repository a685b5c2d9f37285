// The report of `page inspect`: what a script author needs of a page, built
// from the same Page model the step engine gets. Forms in document order with
// their position (the APP-FormPos value), action and method, and the control
// names form location compares a step's fields with; every control's kind,
// type, name and value (and whether a script added it), a list's options, the submit buttons with
// the one a step clicks by default; the number of links and, for a pattern, the links a link search
// matches, in order. As text for people or as JSON. Plain data.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "browser/page.h"

namespace veltrane::authoring {

struct AnsweredDialog {
  std::string kind;  // "alert", "confirm", "prompt" or "leave page"
  std::string message;
};

struct PageInspection {
  std::string address;  // as asked for
  // Every top-level page completed, in order: redirects by the page itself
  // show as several. The last one is the page inspected.
  std::vector<Page> pages;
  std::vector<AnsweredDialog> dialogs;
  std::vector<std::string> browserNotes;  // what the navigation guards and errors traced
  bool settled = true;                    // false: still loading when the wait ended
  // The engine's message when the last page did not load (no server answered
  // it; what shows is the browser's error page); "" otherwise.
  std::string networkError;
};

std::string InspectionText(const PageInspection& inspection,
                           const std::optional<std::string>& linkPattern);
std::string InspectionJson(const PageInspection& inspection,
                           const std::optional<std::string>& linkPattern);

// The links of the page that a link search for the pattern matches, in order.
std::vector<std::string> MatchingLinks(const Page& page, const std::string& pattern);

// The element a step clicks when its APP-SubmitButtonValue is empty: the
// form's first submit control (SubmitButton); -1 when there is none (the form
// is then submitted without a button).
int DefaultButton(const PageForm& form);

// Whether a named control is one the page's scripts added: its name appears
// nowhere in the page's source as an attribute value would. False when the
// page has no source or the control no name.
bool AddedByScript(const Page& page, const FormElement& element);

}  // namespace veltrane::authoring
