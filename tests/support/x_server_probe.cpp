#include "tests/support/x_server_probe.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

namespace veltrane::testing {
namespace {

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> NulSeparated(const std::string& text) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, '\0');) parts.push_back(part);
  return parts;
}

}  // namespace

pid_t ChildNamed(pid_t parent, const std::string& name) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string stat = FileText(entry.path().string() + "/stat");
    // "pid (comm) state ppid ...": the name may hold blanks, the last ')' ends it.
    const std::size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    std::string state;
    long ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent && stat.substr(open + 1, close - open - 1) == name)
      return static_cast<pid_t>(std::atol(entry.path().filename().c_str()));
  }
  return 0;
}

std::vector<std::string> CommandLineOf(pid_t pid) {
  return NulSeparated(FileText("/proc/" + std::to_string(pid) + "/cmdline"));
}

std::vector<std::string> StartEnvironmentOf(pid_t pid) {
  return NulSeparated(FileText("/proc/" + std::to_string(pid) + "/environ"));
}

std::string DisplayOfServer(pid_t server) {
  // Xvfb -displayfd keeps no lock file: its listening socket's name tells.
  const std::string process = "/proc/" + std::to_string(server);
  std::set<std::string> inodes;
  std::error_code error;
  for (const auto& fd : std::filesystem::directory_iterator(process + "/fd", error)) {
    const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
    if (target.starts_with("socket:[")) inodes.insert(target.substr(8, target.size() - 9));
  }
  // "Num RefCount Protocol Flags Type St Inode Path", Path "@/tmp/.X11-unix/X0" or without "@".
  std::istringstream table(FileText(process + "/net/unix"));
  const std::string socketFolder = "/tmp/.X11-unix/X";
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string field, inode, path;
    for (int i = 0; i < 6; ++i) fields >> field;
    fields >> inode >> path;
    const std::size_t at = path.find(socketFolder);
    if (inodes.count(inode) && at != std::string::npos)
      return ":" + path.substr(at + socketFolder.size());
  }
  return {};
}

bool DisplayOpensWith(const std::string& display, const std::string& authorityFile) {
  std::optional<std::string> saved;
  if (const char* value = std::getenv("XAUTHORITY")) saved = value;
  setenv("XAUTHORITY", authorityFile.c_str(), 1);
  Display* opened = XOpenDisplay(display.c_str());
  if (saved)
    setenv("XAUTHORITY", saved->c_str(), 1);
  else
    unsetenv("XAUTHORITY");
  if (!opened) return false;
  XCloseDisplay(opened);
  return true;
}

}  // namespace veltrane::testing
