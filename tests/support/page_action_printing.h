// Readable test failure output for recorded page actions.
#pragma once

#include <ostream>

#include "browser/page.h"

namespace veltrane {

inline void PrintTo(const PageAction& action, std::ostream* out) {
  static const char* const kNames[] = {"SetValue", "SetChecked", "SetSelectedIndex", "Click",
                                       "Submit"};
  *out << kNames[static_cast<int>(action.kind)] << "(form " << action.form << ", element "
       << action.element;
  if (action.kind == PageAction::Kind::SetValue) *out << ", \"" << action.value << "\"";
  if (action.kind == PageAction::Kind::SetSelectedIndex) *out << ", index " << action.index;
  if (action.login) *out << ", login";
  *out << ")";
}

}  // namespace veltrane
