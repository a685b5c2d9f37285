#include "watchdog/desktop_windows.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <memory>
#include <mutex>
#include <vector>

namespace veltrane {
namespace {

// Windows may vanish between finding and acting on them, which Xlib reports
// as an error that by default ends the process. Errors on the watchdog's own
// connections are ignored; all others go to the handler that was installed
// before (GDK's, in the program).
std::mutex handlerMutex;
XErrorHandler previousHandler = nullptr;
std::vector<Display*> quietDisplays;

int IgnoreErrorsOnQuietDisplays(Display* display, XErrorEvent* event) {
  {
    std::lock_guard lock(handlerMutex);
    for (Display* quiet : quietDisplays)
      if (quiet == display) return 0;
  }
  return previousHandler ? previousHandler(display, event) : 0;
}

void AddQuietDisplay(Display* display) {
  std::lock_guard lock(handlerMutex);
  if (quietDisplays.empty()) {
    XErrorHandler previous = XSetErrorHandler(IgnoreErrorsOnQuietDisplays);
    if (previous != IgnoreErrorsOnQuietDisplays) previousHandler = previous;
  }
  quietDisplays.push_back(display);
}

void RemoveQuietDisplay(Display* display) {
  std::lock_guard lock(handlerMutex);
  std::erase(quietDisplays, display);
}

// Frees what Xlib allocated.
struct XFreeDeleter {
  void operator()(void* data) const {
    if (data) XFree(data);
  }
};

}  // namespace

X11Desktop::X11Desktop(const char* displayName) : display_(XOpenDisplay(displayName)) {
  if (display_) AddQuietDisplay(display_);
}

X11Desktop::~X11Desktop() {
  if (!display_) return;
  XCloseDisplay(display_);
  RemoveQuietDisplay(display_);
}

std::string X11Desktop::TitleOf(Window window) {
  // _NET_WM_NAME (UTF-8) first, as modern toolkits set it; WM_NAME otherwise.
  const Atom netWmName = XInternAtom(display_, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display_, window, netWmName, 0, 1024, False, utf8, &type, &format, &count,
                         &remaining, &data) == Success &&
      data) {
    std::unique_ptr<unsigned char, XFreeDeleter> owned(data);
    if (type == utf8 && format == 8) return std::string(reinterpret_cast<char*>(data), count);
  }
  char* name = nullptr;
  if (XFetchName(display_, window, &name) && name) {
    std::unique_ptr<char, XFreeDeleter> owned(name);
    return name;
  }
  return {};
}

std::optional<DesktopWindows::WindowId> X11Desktop::FindWindowByTitle(const std::string& title) {
  if (!display_) return std::nullopt;
  // Top-level windows are the root's children, or, under a reparenting window
  // manager, the children of those frames.
  auto search = [&](Window parent, int depth, auto& self) -> std::optional<WindowId> {
    Window rootReturn = 0, parentReturn = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display_, parent, &rootReturn, &parentReturn, &children, &count))
      return std::nullopt;
    std::unique_ptr<Window, XFreeDeleter> owned(children);
    for (unsigned int i = 0; i < count; ++i)
      if (TitleOf(children[i]) == title) return children[i];
    if (depth > 0)
      for (unsigned int i = 0; i < count; ++i)
        if (auto found = self(children[i], depth - 1, self)) return found;
    return std::nullopt;
  };
  return search(DefaultRootWindow(display_), 1, search);
}

void X11Desktop::RequestClose(WindowId window) {
  if (!display_) return;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  XFlush(display_);
}

void X11Desktop::Activate(WindowId window) {
  if (!display_) return;
  // Ask a window manager, if there is one; without one (plain Xvfb) raise and
  // focus the window ourselves.
  const Window root = DefaultRootWindow(display_);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;  // a request from a pager-like tool
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XRaiseWindow(display_, window);
  XSetInputFocus(display_, window, RevertToParent, CurrentTime);
  XSync(display_, False);
}

void X11Desktop::PressEnter() {
  if (!display_) return;
  const KeyCode enter = XKeysymToKeycode(display_, XK_Return);
  if (enter == 0) return;
  // Press and release: a key left down would repeat on the desktop.
  XTestFakeKeyEvent(display_, enter, True, CurrentTime);
  XTestFakeKeyEvent(display_, enter, False, CurrentTime);
  XSync(display_, False);
}

}  // namespace veltrane
