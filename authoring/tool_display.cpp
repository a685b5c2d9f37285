#include "authoring/tool_display.h"

#include <fcntl.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "browser/engine_environment.h"

namespace veltrane::authoring {
namespace {

// How long Xvfb may take to say which display it took.
constexpr int kServerStartMs = 20000;

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

}  // namespace

ToolDisplay::ToolDisplay() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) StartServer();
  if (!error_.empty()) return;
  PrepareEngineEnvironment();
  // The service's browser window needs X11 (it stands off screen); so do we.
  setenv("GDK_BACKEND", "x11", 1);
  if (!gtk_init_check(nullptr, nullptr)) error_ = "cannot open the X display";
}

void ToolDisplay::StartServer() {
  // The write end is inherited by Xvfb (no close-on-exec); the read end is not.
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    error_ = "cannot start Xvfb (no pipe)";
    return;
  }
  fcntl(pipeFds[0], F_SETFD, FD_CLOEXEC);
  const std::string writeFd = std::to_string(pipeFds[1]);
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
    execlp("Xvfb", "Xvfb", "-displayfd", writeFd.c_str(), "-screen", "0", "1280x1024x24",
           "-nolisten", "tcp", static_cast<char*>(nullptr));
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
  setenv("DISPLAY", (":" + number).c_str(), 1);
}

ToolDisplay::~ToolDisplay() {
  if (server_ <= 0) return;
  // GTK must let go of the display before its server goes, or its next X
  // call would end the process.
  if (GdkDisplay* display = gdk_display_get_default()) gdk_display_close(display);
  kill(server_, SIGTERM);
  int status = 0;
  waitpid(server_, &status, 0);
  unsetenv("DISPLAY");
}

}  // namespace veltrane::authoring
