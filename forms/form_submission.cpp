#include "forms/form_submission.h"

#include <cstddef>

#include "forms/form_filling.h"

namespace veltrane {

bool IsSubmitControl(const FormElement& element) {
  switch (ClassifyElement(element)) {
    case FieldInput: return element.type == "submit" || element.type == "image";
    // Of the other elements only a button tag has the type "submit".
    case FieldOther: return element.type == "submit";
    default: return false;
  }
}

int SubmitButton(const PageForm& form, std::string_view buttonValue) {
  for (std::size_t i = 0; i < form.elements.size(); ++i) {
    const FormElement& element = form.elements[i];
    if (!IsSubmitControl(element)) continue;
    const bool buttonTag = ClassifyElement(element) == FieldOther;
    if (buttonValue.empty() || element.value == buttonValue ||
        (buttonTag && element.text == buttonValue))
      return static_cast<int>(i);
  }
  return -1;
}

const std::string& SubmissionAddress(const PageForm& form, std::string_view buttonValue) {
  const int button = SubmitButton(form, buttonValue);
  if (button >= 0) {
    const std::string& own = form.elements[static_cast<std::size_t>(button)].formAction;
    if (!own.empty()) return own;
  }
  return form.action;
}

void SubmitForm(Page& page, int form, std::string_view buttonValue) {
  if (form < 0 || form >= static_cast<int>(page.forms.size())) return;
  const int button = SubmitButton(page.forms[static_cast<std::size_t>(form)], buttonValue);
  if (button >= 0) {
    page.Click(form, button);
  } else {
    page.Submit(form);
  }
}

}  // namespace veltrane
