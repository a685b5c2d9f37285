// Form submission: sends one form of a Page, by a click on its submit button
// where one fits, else by submitting the form itself. The click or submit is
// recorded on the Page for the browser control to replay; the page it loads
// arrives later as a new completed page. User-interface thread only.
#pragma once

#include <string>
#include <string_view>

#include "browser/page.h"

namespace veltrane {

// With an empty button value, clicks the form's first input of type "submit";
// otherwise the first such input whose value equals the button value exactly
// (case counting, no trimming). Button tags and image inputs never count.
// When no input fits, the form is submitted directly. A form index that is
// not a form of the page submits nothing.
void SubmitForm(Page& page, int form, std::string_view buttonValue);

// The element SubmitForm clicks to send `form` with `buttonValue`; -1 when
// it submits the form without a button.
int SubmitButton(const PageForm& form, std::string_view buttonValue);

// The address the form is sent to that way: the button's own formaction
// when it has one, else the form's action.
const std::string& SubmissionAddress(const PageForm& form, std::string_view buttonValue);

}  // namespace veltrane
