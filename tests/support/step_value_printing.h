// Readable test failure output for a step's values.
#pragma once

#include <ostream>

#include "model/step_value.h"

namespace veltrane {

inline void PrintTo(const StepValue& entry, std::ostream* out) {
  *out << '{' << '"' << entry.key << "\", \"" << entry.value << "\"}";
}

}  // namespace veltrane
