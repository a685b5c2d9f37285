// CommandError: what a command of the command-line tool throws when it fails:
// a one-line message, and the exit code the tool ends with. Only the commands
// throw it; what they call reports its failures in its own terms
// (StorageError, a result), which the command turns into one of these.
#pragma once

#include <stdexcept>
#include <string>

namespace veltrane {

inline constexpr int kExitOk = 0;
// The system refused: no display, a busy database, an unwritable directory;
// site try: the site did not end, or a trial that sent the release could not be recorded.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;  // the command line itself is wrong
// Unknown rows, malformed input, files that are not databases.
inline constexpr int kExitData = 3;
inline constexpr int kExitSiteFailed = 4;  // site try: the site failed; page inspect: did not load

class CommandError : public std::runtime_error {
 public:
  CommandError(int exitCode, const std::string& message)
      : std::runtime_error(message), exitCode_(exitCode) {}
  int ExitCode() const { return exitCode_; }

 private:
  int exitCode_;
};

}  // namespace veltrane
