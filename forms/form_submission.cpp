#include "forms/form_submission.h"

#include <cstddef>

#include "forms/form_filling.h"

namespace veltrane {

void SubmitForm(Page& page, int form, std::string_view buttonValue) {
  if (form < 0 || form >= static_cast<int>(page.forms.size())) return;
  const std::vector<FormElement>& elements = page.forms[static_cast<std::size_t>(form)].elements;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    const FormElement& element = elements[i];
    if (ClassifyElement(element) != FieldInput || element.type != "submit") continue;
    if (buttonValue.empty() || element.value == buttonValue) {
      page.Click(form, static_cast<int>(i));
      return;
    }
  }
  page.Submit(form);
}

}  // namespace veltrane
