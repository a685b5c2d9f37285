#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "app/single_instance.h"
#include "jobs/service_timing.h"
#include "platform/gtk_message_box.h"
#include "tests/support/main_loop.h"
#include "tests/support/temp_dir.h"
#include "tests/support/window_events.h"

namespace veltrane {
namespace {

using testing::RunMainLoopUntil;

// The job host as the main window's dispatch sees it.
class FakeJobs : public JobStarter {
 public:
  bool Busy() const override { return busy; }
  // Ids from 100 on stand for schedules whose job cannot start.
  bool StartSubmission(ScheduleId id) override {
    started.push_back(std::to_string(id));
    if (keepBusy) busy = true;
    return id < 100;
  }
  bool ResumeSubmission() override {
    if (leftUnfinished.empty()) return false;
    started.push_back("resumed " + leftUnfinished.front());
    leftUnfinished.erase(leftUnfinished.begin());
    if (keepBusy) busy = true;
    return true;
  }

  bool busy = false;
  bool keepBusy = false;
  std::vector<std::string> leftUnfinished;  // jobs an earlier run did not finish
  std::vector<std::string> started;
};

// The browser window as the main window sees it.
class FakeForm2 : public SubmissionWindow {
 public:
  void ShowOffScreen() override { ++shownOffScreen; }
  void MoveToLeft(int left) override { movedTo.push_back(left); }

  std::vector<int> movedTo;
  int shownOffScreen = 0;
};

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("GDK_BACKEND", "x11", 1);
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "needs an X display (Xvfb)";
  }

  // Timers far in the future: the tests call the handlers themselves.
  FakeForm2 form2;
  FakeJobs jobs;
  RecordingMessageBox errors;
  int threadStarts = 0;
  int closes = 0;
  ScheduleInbox inbox;
  JobDispatch dispatch{jobs, inbox};
  TForm1 form1{form2,
               dispatch,
               errors,
               [this](TForm1&) { ++threadStarts; },
               [this] { ++closes; },
               MainWindowTiming{3600000, 3600000}};
};

TEST_F(MainWindowTest, QueuedIdsStartOneByOneInOrderOnlyWhileNotBusy) {
  jobs.keepBusy = true;
  jobs.busy = true;
  for (const ScheduleId id : {1, 2, 3}) inbox.QueueSchedule(id);

  form1.Timer1Timer();  // busy: nothing changes
  EXPECT_TRUE(jobs.started.empty());
  EXPECT_EQ("Veltrane Service", form1.TrayIcon1().Hint());

  for (const char* id : {"1", "2", "3"}) {
    jobs.busy = false;  // the previous job ended
    form1.Timer1Timer();
    ASSERT_EQ(id, jobs.started.back());
    EXPECT_EQ(1, form1.TrayIcon1().IconIndex());
    EXPECT_EQ("Veltrane Service :: Running a schedule ...", form1.TrayIcon1().Hint());
    EXPECT_EQ("Submitting...", form1.ScheduleText());
    form1.Timer1Timer();  // the job runs: the running display stays
    EXPECT_EQ("Submitting...", form1.ScheduleText());
  }
  EXPECT_EQ((std::vector<std::string>{"1", "2", "3"}), jobs.started);

  jobs.busy = false;
  form1.Timer1Timer();
  EXPECT_EQ(0, form1.TrayIcon1().IconIndex());
  EXPECT_EQ("Veltrane Service :: Idle", form1.TrayIcon1().Hint());
  EXPECT_EQ("Idle", form1.ScheduleText());
}

TEST_F(MainWindowTest, UnfinishedJobsRunBeforeQueuedIdsAndProblemsAreShown) {
  jobs.leftUnfinished = {"7", "8"};
  inbox.QueueSchedule(1);
  inbox.QueueSchedule(1);  // waiting already: not queued twice
  EXPECT_EQ(1u, inbox.PendingCount());
  inbox.SetScheduleProblem("Next run of schedule 1 not written (disk full)");
  for (int tick = 0; tick < 4; ++tick) form1.Timer1Timer();  // each job ends within its tick
  EXPECT_EQ((std::vector<std::string>{"resumed 7", "resumed 8", "1"}), jobs.started);
  EXPECT_EQ("Next run of schedule 1 not written (disk full)", form1.ProblemText());
  inbox.SetScheduleProblem("");
  form1.Timer1Timer();
  EXPECT_EQ("", form1.ProblemText());
}

TEST_F(MainWindowTest, AnIdWhoseStartFailsIsConsumedAndTheDisplayStaysIdle) {
  inbox.QueueSchedule(101);
  inbox.QueueSchedule(2);
  form1.Timer1Timer();
  EXPECT_EQ(std::vector<std::string>{"101"}, jobs.started);
  EXPECT_EQ("Idle", form1.ScheduleText());
  EXPECT_EQ(0, form1.TrayIcon1().IconIndex());
  EXPECT_EQ(1u, inbox.PendingCount());
  form1.Timer1Timer();
  EXPECT_EQ("2", jobs.started.back());
  EXPECT_EQ(0u, inbox.PendingCount());
  EXPECT_FALSE(inbox.TakeNextSchedule());
}

// The timer is an hour away: only the inbox's wake-up can start the job.
TEST_F(MainWindowTest, AnIdQueuedOnTheScheduleThreadStartsWithoutWaitingForTheTimer) {
  std::thread([this] { inbox.QueueSchedule(5); }).join();
  ASSERT_TRUE(RunMainLoopUntil([&] { return !jobs.started.empty(); }));
  EXPECT_EQ(std::vector<std::string>{"5"}, jobs.started);
  EXPECT_EQ("Submitting...", form1.ScheduleText());
  EXPECT_EQ(0u, inbox.PendingCount());
}

TEST_F(MainWindowTest, HintsOfSixtyFourCharactersOrMoreAreIgnored) {
  const std::string fits(63, 'h');
  form1.TrayIcon1().SetHint(fits);
  EXPECT_EQ(fits, form1.TrayIcon1().Hint());
  form1.TrayIcon1().SetHint(std::string(64, 'x'));
  EXPECT_EQ(fits, form1.TrayIcon1().Hint());
}

TEST_F(MainWindowTest, CloseSendsToTheTrayAndRestoreBringsTheWindowBack) {
  form1.Show();
  EXPECT_EQ(1, threadStarts);
  EXPECT_EQ(1, form2.shownOffScreen);

  form1.Button1Click();
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(form1.Window())));
  EXPECT_TRUE(form1.TrayIcon1().Visible());
  EXPECT_EQ(0, closes);

  form1.TrayIcon1().DoDblClick();
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(form1.Window())));
  EXPECT_FALSE(form1.TrayIcon1().Visible());

  // A close request from outside only sends it to the tray as well.
  testing::SendCloseRequest(form1.Window());
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(form1.Window())));
  EXPECT_EQ(0, closes);

  form1.Show();  // shown again: the start-up work is not repeated
  EXPECT_EQ(1, threadStarts);
}

TEST_F(MainWindowTest, ViewBringsTheBrowserWindowToTheMainWindowsLeftEdge) {
  form1.Show();
  form1.Button3Click();
  ASSERT_EQ(1u, form2.movedTo.size());
  int left = 0, top = 0;
  gtk_window_get_position(form1.Window(), &left, &top);
  EXPECT_EQ(left, form2.movedTo[0]);
}

TEST_F(MainWindowTest, UnloadEndsTheProgramAlsoWhileAJobRuns) {
  form1.Show();
  jobs.busy = true;
  form1.Unload1Click();
  EXPECT_EQ(1, closes);
  EXPECT_FALSE(form1.TrayIcon1().Visible());
}

TEST_F(MainWindowTest, ShortlyAfterStartTheProgramGoesToTheTray) {
  FakeForm2 otherForm2;
  TForm1 quick(otherForm2, dispatch, errors, nullptr, nullptr, MainWindowTiming{3600000, 50});
  quick.Show();
  ASSERT_TRUE(RunMainLoopUntil([&] { return quick.TrayIcon1().Visible(); }));
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(quick.Window())));
  EXPECT_FALSE(quick.Timer2Enabled());  // once only
}

TEST_F(MainWindowTest, ErrorsEscapingAHandlerAreShownAndTheProgramGoesOn) {
  struct ThrowingJobs : FakeJobs {
    bool StartSubmission(ScheduleId) override { throw std::runtime_error("boom"); }
  } throwing;
  ScheduleInbox otherInbox;
  JobDispatch throwingDispatch(throwing, otherInbox);
  TForm1 form(form2, throwingDispatch, errors, nullptr, nullptr, MainWindowTiming{20, 3600000});
  otherInbox.QueueSchedule(1);
  otherInbox.QueueSchedule(2);
  ASSERT_TRUE(RunMainLoopUntil([&] { return errors.texts.size() >= 2; }));
  EXPECT_EQ("boom", errors.texts[0]);
}

TEST_F(MainWindowTest, UnansweredMessageBoxClosesItselfSoTheJobGoesOn) {
  // Nobody confirms it; ShowMessage must still return (else the test runs into its timeout).
  GtkMessageBox(GtkMessageBox::Kind::Error, 1).ShowMessage("SELECT 1\r\n1 : failure");
  GList* windows = gtk_window_list_toplevels();
  int boxes = 0;
  for (GList* item = windows; item; item = item->next) {
    const char* title = gtk_window_get_title(GTK_WINDOW(item->data));
    if (title && std::string(title) == "Veltrane") ++boxes;
  }
  g_list_free(windows);
  EXPECT_EQ(0, boxes);
}

TEST(SingleInstance, SecondLockOnTheSameFileIsRefusedUntilTheFirstGoes) {
  testing::TempDir dir;
  const std::string path = dir.File(SingleInstanceLock::kName);
  {
    SingleInstanceLock first(path);
    ASSERT_TRUE(first.Acquired());
    EXPECT_FALSE(first.HeldElsewhere());
    SingleInstanceLock second(path);
    EXPECT_FALSE(second.Acquired());
    EXPECT_TRUE(second.HeldElsewhere());
  }
  SingleInstanceLock third(path);
  EXPECT_TRUE(third.Acquired());
  EXPECT_NE(std::string::npos, SingleInstanceLock::DefaultPath().find("VeltraneService.MUTEX"));
}

TEST(ServiceTiming, EnvironmentShortensTheIntervalsAndBadValuesKeepTheDefaults) {
  const auto read = [](std::map<std::string, std::string> environment) {
    return ReadServiceTiming([&](const char* name) -> const char* {
      const auto found = environment.find(name);
      return found == environment.end() ? nullptr : found->second.c_str();
    });
  };
  const ServiceTiming defaults = read({});
  EXPECT_EQ(300000u, defaults.pageTimerMs);
  EXPECT_DOUBLE_EQ(1.0 / 480, defaults.pageDeadline);
  EXPECT_DOUBLE_EQ(1.0 / 1440, defaults.pollInterval);

  const ServiceTiming quick =
      read({{"VELTRANE_PAGE_TIMEOUT_MS", "3000"}, {"VELTRANE_POLL_INTERVAL_MS", "1000"}});
  EXPECT_EQ(3000u, quick.pageTimerMs);
  EXPECT_DOUBLE_EQ(1.8 / 86400, quick.pageDeadline);
  EXPECT_DOUBLE_EQ(1.0 / 86400, quick.pollInterval);

  EXPECT_DOUBLE_EQ(0.0, defaults.clockJump);
  const ServiceTiming jumping = read({{"VELTRANE_TEST_CLOCK_JUMP", "2500:-3600"}});
  EXPECT_EQ(2500u, jumping.clockJumpAfterMs);
  EXPECT_DOUBLE_EQ(-3600.0 / 86400, jumping.clockJump);
  EXPECT_DOUBLE_EQ(0.0, read({{"VELTRANE_TEST_CLOCK_JUMP", "2500"}}).clockJump);

  for (const char* bad : {"", "0", "-5", "3s", "999999999999"}) {
    const ServiceTiming kept =
        read({{"VELTRANE_PAGE_TIMEOUT_MS", bad}, {"VELTRANE_POLL_INTERVAL_MS", bad}});
    EXPECT_EQ(300000u, kept.pageTimerMs) << bad;
    EXPECT_DOUBLE_EQ(1.0 / 1440, kept.pollInterval) << bad;
  }
}

TEST(SingleInstance, LockFileThatCannotBeOpenedIsAnErrorNotAnotherCopy) {
  testing::TempDir dir;
  SingleInstanceLock lock(dir.Path());  // a directory cannot be opened for writing
  EXPECT_FALSE(lock.Acquired());
  EXPECT_FALSE(lock.HeldElsewhere());
  EXPECT_NE(std::string::npos, lock.Error().find("cannot open " + dir.Path())) << lock.Error();
}

}  // namespace
}  // namespace veltrane
