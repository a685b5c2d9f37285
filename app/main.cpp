// veltrane: the press-release submission service. One copy per user; a
// second start says so and exits. Runs the GTK main loop until "Unload".
// What keeps it from starting (no lock folder, display or store) is one line
// at error on standard error and exit code 1, so that systemd sees it fail.
// Without DISPLAY (a server, systemd) it starts an X display of its own that
// no other user can reach, so systemd starts the service itself.
#include <X11/Xlib.h>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "app/browser_window.h"
#include "app/instance_publisher.h"
#include "app/main_window.h"
#include "app/service_status.h"
#include "app/service_usage.h"
#include "app/single_instance.h"
#include "app/start_check.h"
#include "browser/engine_environment.h"
#include "jobs/job_host.h"
#include "jobs/lane_settings.h"
#include "jobs/service_timing.h"
#include "platform/configuration.h"
#include "platform/day_clock.h"
#include "platform/gtk_message_box.h"
#include "platform/paths.h"
#include "platform/private_x_server.h"
#include "platform/stderr_trace.h"
#include "platform/systemd_notifier.h"
#include "platform/version.h"
#include "scheduler/history_keeper.h"
#include "scheduler/scheduler.h"
#include "storage/database_files.h"
#include "watchdog/anti_script_error.h"

namespace {

using namespace veltrane;

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
  const LaneSettings lanes = LaneSettingsOf(ReadConfiguration(ExecutableDirectory()));
  for (const std::string& line : lanes.problems) trace.TraceLine(line);
  hostOptions.parallelSites = lanes.parallelSites;
  hostOptions.parallelPerHost = lanes.parallelPerHost;
  hostOptions.laneBrowser = browserOptions;
  auto keeperStop = std::make_shared<StopRequest>();
  bool keeperStarted = false;

  SystemdNotifier notifier;
  ScheduleInbox inbox;
  // What this instance does, in the store for 'veltrane-admin status'.
  InstancePublisher publisher(paths, clock, trace, schedulerTiming.pollInterval);
  ErrorNotingBox notedErrors(errors, publisher);
  TForm2 form2(browserOptions);
  JobHost host(form2.Browser(), form2, notedErrors, trace, clock, hostOptions);
  JobDispatch jobs(host, inbox);
  ServiceStatus status(notifier, host, inbox, &publisher);
  TForm1 form1(
      form2, jobs, notedErrors,
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
  // systemctl stop (SIGTERM) and Ctrl-C end the service as "Unload" does: it
  // stops its threads and takes its status row out of the store.
  for (const int signal : {SIGTERM, SIGINT})
    g_unix_signal_add(
        signal,
        [](gpointer) -> gboolean {
          gtk_main_quit();
          return G_SOURCE_REMOVE;
        },
        nullptr);
  notifier.StartWatchdog();
  gtk_main();
  notifier.Stopping();

  // The threads hold references to the inbox: let them end before it goes.
  schedulerStop->Request();
  watchdogStop->Request();
  keeperStop->Request();
  if (!schedulerStop->WaitFinished(std::chrono::seconds(3))) std::_Exit(0);
  if (keeperStarted && !keeperStop->WaitFinished(std::chrono::seconds(3))) std::_Exit(0);
  // A clean exit takes the instance's row away; a store that does not answer leaves it to go stale.
  if (!publisher.Stop(std::chrono::seconds(3))) std::_Exit(0);
  return 0;
}

// No display is named: neither $DISPLAY nor GTK's --display option.
bool NoDisplayGiven(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--display", 9) == 0) return false;
  const char* display = std::getenv("DISPLAY");
  return !display || !*display;
}

}  // namespace

int main(int argc, char** argv) {
  switch (ReadRequest(argc, argv)) {
    case Request::Help: std::fputs(veltrane::kServiceUsage, stdout); return 0;
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
  // Started after the lock: a second copy has no display of its own to start.
  std::optional<veltrane::PrivateXServer> ownDisplay;
  if (NoDisplayGiven(argc, argv)) {
    ownDisplay.emplace();
    if (!ownDisplay->Started()) {
      veltrane::WriteFatalLine("cannot start an X display: " + ownDisplay->Error());
      return 1;
    }
  }
  if (!gtk_init_check(&argc, &argv)) {
    const char* display = std::getenv("DISPLAY");
    veltrane::WriteFatalLine(std::string("cannot open the display ") + (display ? display : ""));
    return 1;
  }
  // GTK has taken its own options out: what is left is not an option of ours.
  if (argc > 1) {
    veltrane::WriteFatalLine(std::string("unknown option ") + argv[1] +
                             " (veltrane --help lists the options)");
    return 2;
  }
  // Nobody may be there to close a message box: what ends the start is a line.
  int code = 1;
  try {
    code = RunService();
  } catch (const std::exception& error) {
    veltrane::WriteFatalLine(std::string("cannot start: ") + error.what());
  } catch (...) {
    veltrane::WriteFatalLine("cannot start: unknown error");
  }
  // GTK lets go of our own display before its server ends, or its next X call ends the process.
  if (ownDisplay)
    if (GdkDisplay* display = gdk_display_get_default()) gdk_display_close(display);
  return code;
}
