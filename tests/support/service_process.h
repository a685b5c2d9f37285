// ServiceProcess: the built service binary copied into a directory of its own
// (so its db/ and shots/ are that directory's) and run as a child process with
// its own single-instance lock directory. Killed when the object goes.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

namespace veltrane::testing {

class ServiceProcess {
 public:
  // Copies `binary` into `directory` (which holds db/).
  ServiceProcess(const std::string& binary, const std::string& directory);
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // Starts the copy; extra environment entries override the test's own
  // (an empty value removes the variable). Standard error goes to ErrorLog().
  void Start(const std::map<std::string, std::string>& environment = {});
  // Runs another copy to its end and gives its exit code (-1 when it had to be killed).
  int RunToEnd(const std::map<std::string, std::string>& environment, int boundSeconds);
  void Kill();
  bool Running();

  std::string ErrorLog() const;
  const std::string& LockDirectory() const { return lockDirectory_; }

 private:
  pid_t Spawn(const std::map<std::string, std::string>& environment, const std::string& log);

  std::string directory_;
  std::string executable_;
  std::string lockDirectory_;
  pid_t pid_ = -1;
};

}  // namespace veltrane::testing
