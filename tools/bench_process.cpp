#include "tools/bench_process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace veltrane::bench {
namespace {

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

}  // namespace

pid_t SpawnInFolder(const std::string& executable, const std::string& work,
                    const std::vector<std::string>& environment, const std::string& argument) {
  // A lock, cache and data folder of the run's own.
  for (const char* folder : {"run", "cache", "data"}) {
    std::filesystem::create_directories(work + "/" + folder);
    chmod((work + "/" + folder).c_str(), 0700);
  }
  std::vector<std::string> added = environment;
  added.push_back("XDG_RUNTIME_DIR=" + work + "/run");
  added.push_back("XDG_CACHE_HOME=" + work + "/cache");
  added.push_back("XDG_DATA_HOME=" + work + "/data");
  std::vector<std::string> texts;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const std::string& own : added) replaced = replaced || NameOf(own) == NameOf(text);
    if (!replaced) texts.push_back(text);
  }
  texts.insert(texts.end(), added.begin(), added.end());
  std::vector<char*> envp;
  for (std::string& text : texts) envp.push_back(text.data());
  envp.push_back(nullptr);
  const std::string log = work + "/service.log";

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    setpgid(0, 0);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) dup2(fd, STDERR_FILENO);
    if (chdir(work.c_str()) != 0) _exit(127);
    std::string program = executable, first = argument;
    char* argv[] = {program.data(), argument.empty() ? nullptr : first.data(), nullptr};
    execve(program.c_str(), argv, envp.data());
    _exit(127);
  }
  setpgid(pid, pid);
  return pid;
}

std::vector<ProcessEntry> LiveProcesses() {
  std::vector<ProcessEntry> processes;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream statFile(entry.path() / "stat");
    std::string stat;
    if (!std::getline(statFile, stat)) continue;
    const std::size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    ProcessEntry process;
    process.pid = std::stol(name);
    process.command = stat.substr(open + 1, close - open - 1);
    process.path = entry.path();
    std::istringstream rest(stat.substr(close + 2));
    char state = 0;
    rest >> state >> process.parent >> process.group;
    if (state != 'Z') processes.push_back(std::move(process));
  }
  return processes;
}

std::vector<ProcessEntry> ProcessTree(pid_t group, const std::vector<ProcessEntry>& processes) {
  std::map<long, long> parents;
  for (const ProcessEntry& process : processes) parents[process.pid] = process.parent;
  const auto descends = [&](long pid) {
    for (int depth = 0; depth < 64 && pid > 1; ++depth) {
      if (pid == group) return true;
      const auto parent = parents.find(pid);
      if (parent == parents.end()) return false;
      pid = parent->second;
    }
    return false;
  };
  std::vector<ProcessEntry> tree;
  for (const ProcessEntry& process : processes)
    if (process.group == group || descends(process.pid)) tree.push_back(process);
  return tree;
}

}  // namespace veltrane::bench
