// veltrane: the press-release submission service. One copy per user; a
// second start says so and exits. Runs the GTK main loop until "Unload".
// What keeps it from starting (no lock folder, display or store) is one line
// at error on standard error and exit code 1, so that systemd sees it fail.
#include <X11/Xlib.h>
#include <gtk/gtk.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "app/browser_window.h"
#include "app/main_window.h"
#include "app/service_status.h"
#include "app/single_instance.h"
#include "app/start_check.h"
#include "browser/engine_environment.h"
#include "jobs/job_host.h"
#include "jobs/service_timing.h"
#include "platform/configuration.h"
#include "platform/day_clock.h"
#include "platform/gtk_message_box.h"
#include "platform/paths.h"
#include "platform/stderr_trace.h"
#include "platform/systemd_notifier.h"
#include "platform/version.h"
#include "scheduler/history_keeper.h"
#include "scheduler/scheduler.h"
#include "storage/database_files.h"
#include "watchdog/anti_script_error.h"

namespace {

using namespace veltrane;

constexpr const char* kUsage =
    "Usage: veltrane [--help | --version]\n"
    "\n"
    "The press-release submission service. It polls the schedules in the store\n"
    "(db/vt.dat and db/subscription2.dat beside the program, or the PostgreSQL\n"
    "server named by $VELTRANE_DATABASE_URL or veltrane.conf), runs each due\n"
    "schedule's job through its browser, and writes its trace to standard error.\n"
    "It needs an X display: on a server, run it under xvfb-run (the systemd unit\n"
    "does). One copy runs per user; it ends from its tray menu (\"Unload\").\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "GTK's own options (--display and the like) are accepted as well.\n"
    "Exit codes: 0 ended, or another copy runs; 1 could not start; 2 unknown option.\n";

// What the command line asks for before anything starts.
enum class Request { Run, Help, Version };

Request ReadRequest(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
      return Request::Help;
    if (std::strcmp(argv[i], "--version") == 0) return Request::Version;
  }
  return Request::Run;
}

int RunService() {
  GtkMessageBox errors(GtkMessageBox::Kind::Error);
  StderrTrace trace;
  const DatabasePaths paths = ProgramDatabasePaths();
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

  const std::string problem = StoreProblem(paths);
  if (!problem.empty()) {
    WriteFatalLine(problem);
    return 1;
  }
  trace.TraceLine(StartLineText(std::string(VeltraneVersion()), paths, ExecutableDirectory(),
                                schedulerTiming.pollInterval));
  const HistoryRetention retention = HistoryRetentionOf(ReadConfiguration(ExecutableDirectory()));
  if (!retention.problem.empty()) trace.TraceLine(retention.problem);
  auto keeperStop = std::make_shared<StopRequest>();
  bool keeperStarted = false;

  SystemdNotifier notifier;
  ScheduleInbox inbox;
  TForm2 form2(browserOptions);
  JobHost host(form2.Browser(), form2, errors, trace, clock, hostOptions);
  JobDispatch jobs(host, inbox);
  ServiceStatus status(notifier, host, inbox);
  TForm1 form1(
      form2, jobs, errors,
      [&](TForm1&) {
        CScheduler::Start(inbox, clock, trace, paths, schedulerStop, schedulerTiming);
        if (retention.keepDays > 0) {
          HistoryKeeper::Start(
              std::make_unique<HistoryKeeper>(inbox, clock, trace, paths,
                                              hostOptions.shotsDirectory, retention.keepDays),
              keeperStop);
          keeperStarted = true;
        }
        CAntiScriptError::Start(watchdogStop);
      },
      [] { gtk_main_quit(); });
  form1.Show();
  notifier.StartWatchdog();
  gtk_main();
  notifier.Stopping();

  // The threads hold references to the inbox: let them end before it goes.
  schedulerStop->Request();
  watchdogStop->Request();
  keeperStop->Request();
  if (!schedulerStop->WaitFinished(std::chrono::seconds(3))) std::_Exit(0);
  if (keeperStarted && !keeperStop->WaitFinished(std::chrono::seconds(3))) std::_Exit(0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  switch (ReadRequest(argc, argv)) {
    case Request::Help: std::fputs(kUsage, stdout); return 0;
    case Request::Version:
      std::printf("veltrane %s\n", std::string(veltrane::VeltraneVersion()).c_str());
      return 0;
    case Request::Run: break;
  }
  veltrane::PrepareEngineEnvironment();
  // The browser window must be able to stand off screen, which needs X11.
  setenv("GDK_BACKEND", "x11", 1);
  XInitThreads();  // the watchdog uses a display connection of its own
  std::setlocale(LC_ALL, "");

  veltrane::SingleInstanceLock lock;
  if (!lock.Acquired() && !lock.HeldElsewhere()) {
    // Not another copy: a broken runtime folder, which systemd should see fail.
    veltrane::WriteFatalLine(lock.Error());
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
    veltrane::WriteFatalLine("cannot open the display (run under xvfb-run on a server)");
    return 1;
  }
  // GTK has taken its own options out: what is left is not an option of ours.
  if (argc > 1) {
    veltrane::WriteFatalLine(std::string("unknown option ") + argv[1] +
                             " (veltrane --help lists the options)");
    return 2;
  }
  // Nobody may be there to close a message box: what ends the start is a line.
  try {
    return RunService();
  } catch (const std::exception& error) {
    veltrane::WriteFatalLine(std::string("cannot start: ") + error.what());
  } catch (...) {
    veltrane::WriteFatalLine("cannot start: unknown error");
  }
  return 1;
}
