// Errors of veltrane-admin and the exit codes they map to. Commands throw an
// AdminError; RunAdmin prints its message on one line and returns its code.
#pragma once

#include <stdexcept>
#include <string>

namespace veltrane::admin {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the system refused: busy database, unwritable directory
inline constexpr int kExitUsage = 2;    // the command line itself is wrong
inline constexpr int kExitData = 3;  // unknown rows, malformed input, files that are not databases

class AdminError : public std::runtime_error {
 public:
  AdminError(int exitCode, const std::string& message)
      : std::runtime_error(message), exitCode_(exitCode) {}
  int ExitCode() const { return exitCode_; }

 private:
  int exitCode_;
};

[[noreturn]] inline void UsageError(const std::string& message) {
  throw AdminError(kExitUsage, message);
}
[[noreturn]] inline void DataError(const std::string& message) {
  throw AdminError(kExitData, message);
}
[[noreturn]] inline void Failure(const std::string& message) {
  throw AdminError(kExitFailure, message);
}

}  // namespace veltrane::admin
