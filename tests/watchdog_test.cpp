// gtest first: Xlib defines macros (None, Bool) that gtest's names collide with.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
// clang-format on

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "watchdog/anti_script_error.h"

namespace veltrane {
namespace {

// A connection of the test's own that makes real top-level windows and
// collects what happens to them.
class TestDesktop {
 public:
  // The shared test display can refuse a connection for a moment while other
  // tests start and stop whole programs on it: a few tries, then give up.
  TestDesktop() {
    for (int attempt = 0; attempt < 20 && !display_; ++attempt) {
      display_ = XOpenDisplay(nullptr);
      if (!display_) std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
  }
  ~TestDesktop() {
    if (display_) XCloseDisplay(display_);
  }
  Display* display() const { return display_; }

  Window MakeWindow(const std::string& title) {
    const Window window =
        XCreateSimpleWindow(display_, DefaultRootWindow(display_), 10, 10, 100, 60, 0, 0, 0);
    XStoreName(display_, window, title.c_str());
    Atom deleteWindow = XInternAtom(display_, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display_, window, &deleteWindow, 1);
    XSelectInput(display_, window, KeyPressMask | KeyReleaseMask | ExposureMask);
    XMapWindow(display_, window);
    XSync(display_, False);
    return window;
  }

  struct Seen {
    int closeRequests = 0;
    int enterPresses = 0;
    int enterReleases = 0;
  };
  // Everything that reached `window` so far.
  Seen EventsOf(Window window) {
    XSync(display_, False);
    Seen seen;
    XEvent event;
    while (
        XCheckWindowEvent(display_, window, KeyPressMask | KeyReleaseMask | ExposureMask, &event)) {
      if (event.type == KeyPress || event.type == KeyRelease) {
        const bool enter = XLookupKeysym(&event.xkey, 0) == XK_Return;
        if (enter) (event.type == KeyPress ? seen.enterPresses : seen.enterReleases)++;
      }
    }
    while (XCheckTypedWindowEvent(display_, window, ClientMessage, &event))
      if (static_cast<Atom>(event.xclient.data.l[0]) ==
          XInternAtom(display_, "WM_DELETE_WINDOW", False))
        ++seen.closeRequests;
    return seen;
  }

 private:
  Display* display_ = nullptr;
};

class WatchdogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(nullptr, desktop.display()) << "needs an X display (Xvfb)"; }
  TestDesktop desktop;
  CAntiScriptError watchdog{std::make_unique<X11Desktop>()};
};

TEST_F(WatchdogTest, ScriptErrorDialogGetsACloseRequestAndNoKey) {
  const Window dialog = desktop.MakeWindow("Internet Explorer Script Error");
  watchdog.DismissDialogs();
  const auto seen = desktop.EventsOf(dialog);
  EXPECT_EQ(1, seen.closeRequests);
  EXPECT_EQ(0, seen.enterPresses);
}

TEST_F(WatchdogTest, EachEnterDialogIsFocusedAndGetsEnterPressedAndReleased) {
  for (const char* title : CAntiScriptError::kEnterTitles) {
    const Window dialog = desktop.MakeWindow(title);
    watchdog.DismissDialogs();
    const auto seen = desktop.EventsOf(dialog);
    EXPECT_EQ(1, seen.enterPresses) << title;
    EXPECT_EQ(1, seen.enterReleases) << title;  // no key is left held down
    EXPECT_EQ(0, seen.closeRequests) << title;
    XDestroyWindow(desktop.display(), dialog);
  }
}

TEST_F(WatchdogTest, OnlyWholeTitlesMatchAndOneWindowPerTitlePerCycle) {
  const Window longer = desktop.MakeWindow("Page - Microsoft Internet Explorer");
  const Window first = desktop.MakeWindow("Security Alert");
  const Window second = desktop.MakeWindow("Security Alert");

  watchdog.DismissDialogs();
  const int firstPresses = desktop.EventsOf(first).enterPresses;
  const int secondPresses = desktop.EventsOf(second).enterPresses;
  EXPECT_EQ(1, firstPresses + secondPresses);

  // The answered dialog goes away, as it would on Enter; the next cycle takes the other.
  const Window answered = firstPresses ? first : second;
  const Window waiting = firstPresses ? second : first;
  XDestroyWindow(desktop.display(), answered);
  watchdog.DismissDialogs();
  EXPECT_EQ(1, desktop.EventsOf(waiting).enterPresses);
  EXPECT_EQ(0, desktop.EventsOf(longer).enterPresses);
  EXPECT_EQ(0, desktop.EventsOf(longer).closeRequests);
}

TEST_F(WatchdogTest, VanishedWindowsAndAnEmptyDesktopAreHarmless) {
  X11Desktop x11;
  ASSERT_TRUE(x11.Connected());
  EXPECT_FALSE(x11.FindWindowByTitle("No such title here").has_value());
  const Window gone = desktop.MakeWindow("Security Information");
  const auto found = x11.FindWindowByTitle("Security Information");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(gone, *found);
  XDestroyWindow(desktop.display(), gone);
  XSync(desktop.display(), False);
  x11.Activate(*found);  // a BadWindow here must not end the process
  x11.RequestClose(*found);
  EXPECT_FALSE(x11.FindWindowByTitle("Security Information").has_value());
}

TEST_F(WatchdogTest, ThreadAnswersADialogAtItsCycle) {
  const Window dialog = desktop.MakeWindow("Security Alert");
  StopRequest stop;
  CAntiScriptError fast(std::make_unique<X11Desktop>(), std::chrono::milliseconds(20));
  std::thread thread([&] { fast.Run(stop); });
  int presses = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (presses == 0 && std::chrono::steady_clock::now() < end) {
    presses += desktop.EventsOf(dialog).enterPresses;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  stop.Request();
  thread.join();
  EXPECT_GE(presses, 1);
}

TEST(WatchdogThread, StopsWhenAskedWithoutACycle) {
  auto stop = std::make_shared<StopRequest>();
  CAntiScriptError::Start(stop);
  stop->Request();
  EXPECT_TRUE(stop->WaitFinished(std::chrono::seconds(30)));
}

}  // namespace
}  // namespace veltrane
