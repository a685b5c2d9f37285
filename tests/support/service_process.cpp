#include "tests/support/service_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace veltrane::testing {

ServiceProcess::ServiceProcess(const std::string& binary, const std::string& directory)
    : directory_(directory),
      executable_(directory + "/veltrane"),
      lockDirectory_(directory + "/run") {
  std::filesystem::copy_file(binary, executable_,
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::create_directories(lockDirectory_);
}

ServiceProcess::~ServiceProcess() {
  Kill();
  if (group_ > 0 && !GroupMembers().empty()) kill(-group_, SIGKILL);
  ReapGroup();
}

pid_t ServiceProcess::Spawn(const std::map<std::string, std::string>& environment,
                            const std::string& log) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
  }
  merged["XDG_RUNTIME_DIR"] = lockDirectory_;
  for (const auto& [name, value] : environment) {
    if (value.empty())
      merged.erase(name);
    else
      merged[name] = value;
  }
  std::vector<std::string> texts;
  for (const auto& [name, value] : merged) texts.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& text : texts) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::vector<std::string> command = command_;
  if (command.empty()) command.push_back(executable_);
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (ownGroup_) setpgid(0, 0);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, STDERR_FILENO);
      dup2(fd, STDOUT_FILENO);
    }
    if (chdir(directory_.c_str()) != 0) _exit(127);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (ownGroup_) setpgid(pid, pid);  // as the child does: whichever runs first
  return pid;
}

void ServiceProcess::Start(const std::map<std::string, std::string>& environment) {
  pid_ = Spawn(environment, directory_ + "/service.log");
}

int ServiceProcess::RunToEnd(const std::map<std::string, std::string>& environment,
                             int boundSeconds) {
  const pid_t pid = Spawn(environment, directory_ + "/second.log");
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(boundSeconds);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ServiceProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == 0) return true;
  pid_ = -1;
  return false;
}

void ServiceProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

void ServiceProcess::StartInOwnGroup(const std::map<std::string, std::string>& environment) {
  // Orphans of the copy come to this process, which reaps them, instead of
  // lingering as zombies under an init that may not.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  ownGroup_ = true;
  Start(environment);
  ownGroup_ = false;
  group_ = pid_;
}

std::vector<ServiceProcess::GroupMember> ServiceProcess::GroupMembers() const {
  std::vector<GroupMember> members;
  if (group_ <= 0) return members;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream statFile(entry.path() / "stat");
    std::string stat;
    if (!std::getline(statFile, stat)) continue;
    // pid (name) state ppid pgrp ...; the name may hold blanks and parentheses.
    const auto open = stat.find('(');
    const auto close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    char state = 0;
    pid_t parent = 0, group = 0;
    rest >> state >> parent >> group;
    if (group != group_ || state == 'Z' || state == 'X') continue;
    members.push_back({static_cast<pid_t>(std::stoi(stat.substr(0, open))),
                       stat.substr(open + 1, close - open - 1)});
  }
  return members;
}

void ServiceProcess::ReapGroup() {
  if (group_ <= 0) return;
  while (waitpid(-group_, nullptr, WNOHANG) > 0) {
  }
}

bool ServiceProcess::KillAndAwaitEmptyGroup(std::chrono::milliseconds bound) {
  Kill();
  const auto end = std::chrono::steady_clock::now() + bound;
  for (;;) {
    ReapGroup();
    if (GroupMembers().empty()) return true;
    if (std::chrono::steady_clock::now() > end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(-group_, SIGKILL);
  const auto reapEnd = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!GroupMembers().empty() && std::chrono::steady_clock::now() < reapEnd) {
    ReapGroup();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string ServiceProcess::ErrorLog() const {
  std::ifstream in(directory_ + "/service.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace veltrane::testing
