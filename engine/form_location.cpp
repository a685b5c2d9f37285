#include "engine/form_location.h"

#include <cstddef>
#include <utility>

#include "forms/form_filling.h"
#include "platform/text_lists.h"

namespace veltrane {

FormSignature FormControlNames(const PageForm& form) {
  FormSignature names;
  for (const FormElement& element : form.elements)
    if (ClassifyElement(element) != FieldOther) names.push_back(element.name);
  return names;
}

std::vector<FormSignature> ListFormSignatures(const Page& page) {
  std::vector<FormSignature> signatures;
  signatures.reserve(page.forms.size());
  for (const PageForm& form : page.forms) {
    FormSignature names = FormControlNames(form);
    if (names.empty()) names.push_back("0");
    signatures.push_back(std::move(names));
  }
  return signatures;
}

bool FormHasFields(const std::vector<std::string>& fieldNames, const FormSignature& controlNames) {
  for (const std::string& field : fieldNames) {
    const std::string wanted = TrimBlanks(field);
    bool found = false;
    for (const std::string& control : controlNames)
      if (EqualsIgnoringAsciiCase(wanted, control)) {
        found = true;
        break;
      }
    if (!found) return false;
  }
  return true;
}

int LocateForm(const Page& page, int position, const std::vector<std::string>& fieldNames,
               TraceSink& trace) {
  if (position < 0) return position;
  const std::vector<FormSignature> signatures = ListFormSignatures(page);
  if (position >= static_cast<int>(signatures.size())) return position;
  if (FormHasFields(fieldNames, signatures[static_cast<std::size_t>(position)])) {
    trace.TraceLine("Current formpos is correct!");
    return position;
  }
  for (std::size_t i = 0; i < signatures.size(); ++i) {
    if (FormHasFields(fieldNames, signatures[i])) {
      trace.TraceLine("Found the correct formpos : " + std::to_string(i));
      return static_cast<int>(i);
    }
  }
  trace.TraceLine("Still cannot find the correct formpos");
  return position;
}

const PageForm* GetForm(const Page& page, int position) {
  if (position < 0 || position >= static_cast<int>(page.forms.size())) return nullptr;
  return &page.forms[static_cast<std::size_t>(position)];
}

}  // namespace veltrane
