// Shorthands for the command errors of veltrane-admin; RunAdmin prints the
// message on one line and returns its exit code.
#pragma once

#include <string>

#include "platform/command_error.h"

namespace veltrane::admin {

[[noreturn]] inline void UsageError(const std::string& message) {
  throw CommandError(kExitUsage, message);
}
[[noreturn]] inline void DataError(const std::string& message) {
  throw CommandError(kExitData, message);
}
[[noreturn]] inline void Failure(const std::string& message) {
  throw CommandError(kExitFailure, message);
}

}  // namespace veltrane::admin
