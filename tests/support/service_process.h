// ServiceProcess: the built service binary copied into a directory of its own
// (so its db/ and shots/ are that directory's) and run as a child process with
// its own single-instance lock directory. Killed when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace veltrane::testing {

class ServiceProcess {
 public:
  // Copies `binary` into `directory` (which holds db/).
  ServiceProcess(const std::string& binary, const std::string& directory);
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // Starts the copy; extra environment entries override the test's own
  // (an empty value removes the variable). Standard error and output go to ErrorLog().
  void Start(const std::map<std::string, std::string>& environment = {});
  // Runs another copy to its end and gives its exit code (-1 when it had to be killed).
  int RunToEnd(const std::map<std::string, std::string>& environment, int boundSeconds);
  // From now on, Start and RunToEnd run `command` (a program and its
  // arguments) in the directory instead of the copy alone; empty: the copy.
  void SetCommand(std::vector<std::string> command) { command_ = std::move(command); }
  const std::string& Executable() const { return executable_; }
  void Kill();
  bool Running();

  std::string ErrorLog() const;
  const std::string& LockDirectory() const { return lockDirectory_; }

  // Like Start, with the copy as the leader of a process group of its own, so
  // that everything it starts (WebKit's processes) can be found and checked.
  // The test process becomes the subreaper of what the copy leaves behind.
  void StartInOwnGroup(const std::map<std::string, std::string>& environment = {});
  pid_t Pid() const { return pid_; }
  // The live members of that group (zombies are not), with their names.
  struct GroupMember {
    pid_t pid;
    std::string name;
  };
  std::vector<GroupMember> GroupMembers() const;
  // SIGKILLs the copy alone, as a crash would end it, and waits up to `bound`
  // for the rest of its group to end by itself. False when something was
  // still running then; that is killed before returning.
  bool KillAndAwaitEmptyGroup(std::chrono::milliseconds bound);

 private:
  pid_t Spawn(const std::map<std::string, std::string>& environment, const std::string& log);
  void ReapGroup();

  std::string directory_;
  std::string executable_;
  std::string lockDirectory_;
  std::vector<std::string> command_;
  pid_t pid_ = -1;
  bool ownGroup_ = false;  // the next Spawn leads a group of its own
  pid_t group_ = -1;
};

}  // namespace veltrane::testing
