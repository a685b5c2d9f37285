// veltrane: the press-release submission service. One copy per user; a
// second start says so and exits. Runs the GTK main loop until "Unload".
#include <X11/Xlib.h>
#include <gtk/gtk.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "app/browser_window.h"
#include "app/main_window.h"
#include "app/single_instance.h"
#include "browser/engine_environment.h"
#include "jobs/job_host.h"
#include "jobs/service_timing.h"
#include "platform/day_clock.h"
#include "platform/gtk_message_box.h"
#include "platform/stderr_trace.h"
#include "scheduler/scheduler.h"
#include "storage/database_files.h"
#include "watchdog/anti_script_error.h"

namespace {

using namespace veltrane;

int RunService() {
  GtkMessageBox errors(GtkMessageBox::Kind::Error);
  StderrTrace trace;
  auto schedulerStop = std::make_shared<StopRequest>();
  auto watchdogStop = std::make_shared<StopRequest>();

  const ServiceTiming timing =
      ReadServiceTiming([](const char* name) { return std::getenv(name); });
  const JumpingClock clock(DefaultClock(), std::chrono::milliseconds(timing.clockJumpAfterMs),
                           timing.clockJump);
  JobHostOptions hostOptions;
  hostOptions.timeoutIntervalMs = timing.pageTimerMs;
  hostOptions.pageDeadline = timing.pageDeadline;
  WebKitBrowserOptions browserOptions;
  browserOptions.warmUp = true;
  SchedulerTiming schedulerTiming;
  schedulerTiming.pollInterval = timing.pollInterval;

  ScheduleInbox inbox;
  TForm2 form2(browserOptions);
  JobHost host(form2.Browser(), form2, errors, trace, clock, hostOptions);
  JobDispatch jobs(host, inbox);
  TForm1 form1(
      form2, jobs, errors,
      [&](TForm1&) {
        CScheduler::Start(inbox, clock, trace, ProgramDatabasePaths(), schedulerStop,
                          schedulerTiming);
        CAntiScriptError::Start(watchdogStop);
      },
      [] { gtk_main_quit(); });
  form1.Show();
  gtk_main();

  // The threads hold references to the inbox: let them end before it goes.
  schedulerStop->Request();
  watchdogStop->Request();
  if (!schedulerStop->WaitFinished(std::chrono::seconds(3))) std::_Exit(0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  veltrane::PrepareEngineEnvironment();
  // The browser window must be able to stand off screen, which needs X11.
  setenv("GDK_BACKEND", "x11", 1);
  XInitThreads();  // the watchdog uses a display connection of its own
  std::setlocale(LC_ALL, "");

  veltrane::SingleInstanceLock lock;
  if (!lock.Acquired() && !lock.HeldElsewhere()) {
    // Not another copy: a broken runtime folder, which systemd should see fail.
    std::fprintf(stderr, "veltrane: %s\n", lock.Error().c_str());
    return 1;
  }
  if (!lock.Acquired()) {
    if (gtk_init_check(&argc, &argv))
      veltrane::GtkMessageBox().ShowMessage("Veltrane service already running ...");
    else
      std::fprintf(stderr, "Veltrane service already running ...\n");
    return 0;
  }
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "veltrane: cannot open the display (run under xvfb-run on a server)\n");
    return 1;
  }
  try {
    return RunService();
  } catch (const std::exception& error) {
    veltrane::GtkMessageBox(veltrane::GtkMessageBox::Kind::Error).ShowMessage(error.what());
  } catch (...) {
    veltrane::GtkMessageBox(veltrane::GtkMessageBox::Kind::Error).ShowMessage("");
  }
  return 0;
}
