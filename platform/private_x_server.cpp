#include "platform/private_x_server.h"

#include <X11/Xauth.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/private_files.h"

extern char** environ;

namespace veltrane {
namespace {

// How long Xvfb may take to say which display it took.
constexpr int kServerStartMs = 20000;
constexpr int kCookieBytes = 16;

// Reads the display number Xvfb writes on its -displayfd pipe ("99\n").
std::string ReadDisplayNumber(int fd) {
  std::string number;
  while (true) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, kServerStartMs) <= 0) return {};
    char c = 0;
    const ssize_t got = read(fd, &c, 1);
    if (got <= 0) return {};
    if (c == '\n') return number;
    if (c < '0' || c > '9') return {};
    number += c;
  }
}

std::string TemporaryBase() {
  for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"})
    if (const char* value = std::getenv(name); value && *value && access(value, W_OK) == 0)
      return value;
  return "/tmp";
}

// This process's environment for Xvfb, without what would let it notify systemd.
std::vector<std::string> ServerEnvironment() {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view text(*entry);
    if (text.starts_with("NOTIFY_SOCKET=") || text.starts_with("WATCHDOG_")) continue;
    environment.emplace_back(text);
  }
  return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

PrivateXServer::PrivateXServer() {
  std::string folder = TemporaryBase() + "/veltrane-display-XXXXXX";
  if (!mkdtemp(folder.data())) {
    error_ =
        "cannot make a folder for the X display's cookie: " + std::string(std::strerror(errno));
    return;
  }
  folder_ = folder;
  authority_ = folder_ + "/Xauthority";
  if (!WriteCookie()) return;
  StartServer();
}

// One entry that any display number and address match (FamilyWild, no
// number): Xvfb reads every entry of its -auth file, and the display number
// is known only once it runs.
bool PrivateXServer::WriteCookie() {
  char cookie[kCookieBytes];
  if (getrandom(cookie, sizeof cookie, 0) != static_cast<ssize_t>(sizeof cookie)) {
    error_ = "cannot make a cookie for the X display: " + std::string(std::strerror(errno));
    return false;
  }
  const int fd = OpenPrivateFile(authority_);
  FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (!file && fd >= 0) close(fd);
  char name[] = "MIT-MAGIC-COOKIE-1";
  char empty[] = "";
  Xauth entry{};
  entry.family = FamilyWild;
  entry.address = empty;
  entry.number = empty;
  entry.name = name;
  entry.name_length = sizeof name - 1;
  entry.data = cookie;
  entry.data_length = sizeof cookie;
  const bool written = file && XauWriteAuth(file, &entry) == 1;
  const bool closed = file && std::fclose(file) == 0;
  if (!written || !closed) {
    error_ = "cannot write the X display's cookie to " + authority_;
    return false;
  }
  return true;
}

void PrivateXServer::StartServer() {
  // The write end is inherited by Xvfb (no close-on-exec); the read end is not.
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    error_ = "cannot start Xvfb (no pipe)";
    return;
  }
  fcntl(pipeFds[0], F_SETFD, FD_CLOEXEC);
  std::vector<std::string> arguments = {"Xvfb",  "-displayfd",   std::to_string(pipeFds[1]),
                                        "-auth", authority_,     "-screen",
                                        "0",     "1280x1024x24", "-nolisten",
                                        "tcp"};
  std::vector<std::string> environment = ServerEnvironment();
  const std::vector<char*> argv = Pointers(arguments);
  const std::vector<char*> envp = Pointers(environment);
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    error_ = "cannot start Xvfb (no process)";
    return;
  }
  if (child == 0) {
    // Only async-signal-safe calls until exec. The server ends with us, also
    // when we are killed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    const int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
      dup2(devNull, STDIN_FILENO);
      dup2(devNull, STDOUT_FILENO);
      dup2(devNull, STDERR_FILENO);
    }
    execvpe("Xvfb", argv.data(), envp.data());
    _exit(127);
  }
  close(pipeFds[1]);
  server_ = child;
  const std::string number = ReadDisplayNumber(pipeFds[0]);
  close(pipeFds[0]);
  if (number.empty()) {
    error_ = "no display, and Xvfb could not be started (install the xvfb package)";
    return;
  }
  display_ = ":" + number;
  if (const char* authority = std::getenv("XAUTHORITY")) savedAuthority_ = authority;
  setenv("DISPLAY", display_.c_str(), 1);
  setenv("XAUTHORITY", authority_.c_str(), 1);
}

PrivateXServer::~PrivateXServer() {
  if (server_ > 0) {
    kill(server_, SIGTERM);
    int status = 0;
    waitpid(server_, &status, 0);
  }
  if (!display_.empty()) {
    unsetenv("DISPLAY");
    if (savedAuthority_)
      setenv("XAUTHORITY", savedAuthority_->c_str(), 1);
    else
      unsetenv("XAUTHORITY");
  }
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

}  // namespace veltrane
