// Form filling: gives every input, text area and drop-down list of one form
// of a Page the value that the current step names it with. Values pass
// through DecodeLineBreaks and then SubstitutePlaceholders; drop-down lists
// take an option chosen by the country, category or text rules. Writes go
// through the Page, so they are recorded for the browser control to replay.
// Reads the JobState, never changes it; user-interface thread only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "browser/page.h"
#include "model/job_state.h"
#include "platform/trace.h"

namespace veltrane {

// The element kinds by the names the form rules use.
inline constexpr ElementKind FieldInput = ElementKind::Input;  // every input type
inline constexpr ElementKind FieldTextArea = ElementKind::TextArea;
inline constexpr ElementKind FieldSelect = ElementKind::Select;
inline constexpr ElementKind FieldOther = ElementKind::Other;  // button tags, field sets, ...

ElementKind ClassifyElement(const FormElement& element);

// Every "||" becomes CR LF, read from left to right ("|||" gives CR LF "|").
std::string DecodeLineBreaks(std::string_view text);

// One entry per option of a drop-down list, in its order: the option's value,
// one blank, its displayed text. Empty for a list without options.
std::vector<std::string> ListOptions(const FormElement& select);

// Fills form `form` of the page from site.StepValues, with the release's and
// the site login's values for placeholders, walking its elements
// once in collection order. An element takes the value of the first step
// entry named like it (FindStepValue: A-Z case ignored), an empty one too:
// - an input of type "checkbox" or "radio" is checked when the wanted text
//   equals its value with A-Z case ignored, and otherwise left alone (never
//   unchecked); every other input type, hidden and submit included, and a
//   text area get the wanted text as value;
// - a drop-down list whose step value is "$$country" (any case) takes
//   ChooseCountry of release.Country; "$$category$$" takes ChooseCategory of
//   the release.SiteCategories value for site.CurrentSite; any other value takes
//   FindOption of the wanted text; when nothing fits, index 1 is selected.
// Elements whose name is not a key of the step stay as the page made them.
// A write whose step value holds a login placeholder is marked as the
// login's (Page::SetValue), so that no picture or printout shows it.
// A form index that is not a form of the page fills nothing.
void FillForm(Page& page, int form, const PressRelease& release, const SiteRun& site,
              TraceSink& trace);

// True when FillForm would give a drop-down list of form `form` index 1 for
// want of an option that matches its step value: the page's script may not
// have added its options yet.
bool FillMissesAnOption(const Page& page, int form, const PressRelease& release,
                        const SiteRun& site);

// True when FillForm would use a step value holding "$$username$$" or
// "$$password$$" (A-Z case ignored) on form `form`: the value FillForm takes
// for one of the form's inputs, text areas or drop-down lists. The login
// reaches a form only that way, since placeholders in inserted values are not
// expanded into it.
bool FillWritesLogin(const Page& page, int form, const std::vector<StepValue>& stepValues);

// The same for a value holding a placeholder of the press release
// (HoldsReleasePlaceholder): the form would carry the release.
bool FillWritesRelease(const Page& page, int form, const std::vector<StepValue>& stepValues);

// The field names a step gives that no input, text area or drop-down list of
// the form is named with, in the step's order: each name trimmed of blanks and
// control characters, compared with the control names ignoring A-Z case, as
// form location compares them. Empty when the form has every control the step
// names, which is how a changed site shows.
std::vector<std::string> MissingControls(const PageForm& form,
                                         const std::vector<std::string>& fieldNames);

}  // namespace veltrane
