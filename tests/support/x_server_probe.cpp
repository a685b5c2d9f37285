#include "tests/support/x_server_probe.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
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
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/tmp", error)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(".X") || !name.ends_with("-lock")) continue;
    if (std::atol(FileText(entry.path().string()).c_str()) == server)
      return ":" + name.substr(2, name.size() - 7);
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
