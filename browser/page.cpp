#include "browser/page.h"

#include <utility>

namespace veltrane {

FormElement* Page::ElementAt(int form, int element) {
  if (form < 0 || form >= static_cast<int>(forms.size())) return nullptr;
  auto& elements = forms[static_cast<std::size_t>(form)].elements;
  if (element < 0 || element >= static_cast<int>(elements.size())) return nullptr;
  return &elements[static_cast<std::size_t>(element)];
}

void Page::SetValue(int form, int element, const std::string& value, bool login) {
  FormElement* target = ElementAt(form, element);
  if (!target) return;
  target->value = value;
  target->login = target->login || login;
  actions_.push_back({PageAction::Kind::SetValue, form, element, value, -1, login});
}

void Page::SetChecked(int form, int element) {
  FormElement* target = ElementAt(form, element);
  if (!target) return;
  target->checked = true;
  actions_.push_back({PageAction::Kind::SetChecked, form, element, {}, -1});
}

void Page::SetSelectedIndex(int form, int element, int index, bool login) {
  FormElement* target = ElementAt(form, element);
  if (!target) return;
  target->login = target->login || login;
  // A select takes an index outside its options as "nothing selected".
  target->selectedIndex =
      index >= 0 && index < static_cast<int>(target->options.size()) ? index : -1;
  actions_.push_back({PageAction::Kind::SetSelectedIndex, form, element, {}, index, login});
}

void Page::Click(int form, int element) {
  if (!ElementAt(form, element)) return;
  actions_.push_back({PageAction::Kind::Click, form, element, {}, -1});
}

void Page::Submit(int form) {
  if (form < 0 || form >= static_cast<int>(forms.size())) return;
  actions_.push_back({PageAction::Kind::Submit, form, -1, {}, -1});
}

std::vector<PageAction> Page::TakeActions() { return std::exchange(actions_, {}); }

}  // namespace veltrane
