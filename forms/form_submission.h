// Form submission: sends one form of a Page, by a click on its submit button
// where one fits, else by submitting the form itself. The click or submit is
// recorded on the Page for the browser control to replay; the page it loads
// arrives later as a new completed page. User-interface thread only.
#pragma once

#include <string>
#include <string_view>

#include "browser/page.h"

namespace veltrane {

// Clicks a submit control of the form, as a person sends it: an input of type
// "submit" or "image", or a button tag of type "submit" (a button without a
// type is one). With an empty button value, the form's first such control;
// otherwise the first whose value equals the button value exactly (case
// counting, no trimming), or, for a button tag, whose text does. When no
// control fits, the form is submitted directly (the page's validation and
// submit handlers run, as for the Enter key). A form index that is not a form
// of the page submits nothing.
void SubmitForm(Page& page, int form, std::string_view buttonValue);

// Whether the element sends its form when clicked (see SubmitForm).
bool IsSubmitControl(const FormElement& element);

// The element SubmitForm clicks to send `form` with `buttonValue`; -1 when
// it submits the form without a button.
int SubmitButton(const PageForm& form, std::string_view buttonValue);

// The address the form is sent to that way: the button's own formaction
// when it has one, else the form's action.
const std::string& SubmissionAddress(const PageForm& form, std::string_view buttonValue);

}  // namespace veltrane
