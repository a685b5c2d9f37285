#include "tests/support/fault_host.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

namespace veltrane::testing {
namespace {

std::string Failure(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

FullFilesystem::FullFilesystem(const std::string& directory)
    : directory_(directory), filler_(directory + "/filler") {
  // The files are taken along: the tmpfs would hide them.
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    files[entry.path().filename().string()] = bytes.str();
  }
  if (unshare(CLONE_NEWNS) != 0) {
    error_ = Failure("unshare(CLONE_NEWNS)");
    return;
  }
  // Private, so that the mount below never reaches the machine's own namespace.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    error_ = Failure("making / private");
    return;
  }
  if (mount("tmpfs", directory.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m") != 0) {
    error_ = Failure("mounting a tmpfs over " + directory);
    return;
  }
  mounted_ = true;
  for (const auto& [name, bytes] : files) {
    std::ofstream out(directory + "/" + name, std::ios::binary);
    out << bytes;
  }
  const int fd = open(filler_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const std::vector<char> block(65536, 'x');
  while (fd >= 0 && write(fd, block.data(), block.size()) > 0) {
  }
  if (fd >= 0) close(fd);
}

FullFilesystem::~FullFilesystem() {
  if (mounted_) umount2(directory_.c_str(), MNT_DETACH);
}

void FullFilesystem::MakeRoom() { std::filesystem::remove(filler_); }

bool ShowsWindow(pid_t pid, const std::string& title) {
  std::unique_ptr<Display, decltype(&XCloseDisplay)> display(XOpenDisplay(nullptr), &XCloseDisplay);
  if (!display) return false;
  // A window may go between the listing and the look at it: not fatal here.
  XSetErrorHandler(+[](Display*, XErrorEvent*) { return 0; });
  const Atom pidAtom = XInternAtom(display.get(), "_NET_WM_PID", False);
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display.get(), DefaultRootWindow(display.get()), &root, &parent, &children,
                  &count))
    return false;
  bool found = false;
  for (unsigned i = 0; i < count && !found; ++i) {
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* value = nullptr;
    if (XGetWindowProperty(display.get(), children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type,
                           &format, &items, &after, &value) != Success)
      continue;
    const bool ours = value && items == 1 &&
                      *reinterpret_cast<unsigned long*>(value) == static_cast<unsigned long>(pid);
    if (value) XFree(value);
    XTextProperty name{};
    if (!ours || !XGetWMName(display.get(), children[i], &name) || !name.value) continue;
    found = title == std::string(reinterpret_cast<char*>(name.value), name.nitems);
    XFree(name.value);
  }
  if (children) XFree(children);
  return found;
}

}  // namespace veltrane::testing
