// TForm1: the main window. It shows the service's status, owns the tray icon,
// and once a second hands the oldest schedule id waiting in the schedule
// thread's inbox to the browser window while no job runs; an id coming in
// wakes it at once, so a due schedule does not wait for the next tick.
// User-interface thread only; the inbox is the one thing it shares with the
// schedule thread.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

#include "app/tray_icon.h"
#include "jobs/submission_window.h"
#include "platform/message_box.h"
#include "platform/ui_timer.h"
#include "scheduler/schedule_queue.h"

namespace veltrane {

struct MainWindowTiming {
  unsigned timer1Ms = 1000;  // queue check
  unsigned timer2Ms = 500;   // the one-off trip to the tray after start
};

class TForm1 {
 public:
  // `startThreads` runs once, when the window is first shown (the program
  // starts the schedule thread and the watchdog there). `onClosed` runs when
  // the window is closed by "Unload" (the program ends its main loop there).
  // `busy` is the job's flag, shared with the browser window, which writes it.
  TForm1(SubmissionWindow& form2, ScheduleInbox& inbox, bool& busy, MessageBox& errors,
         std::function<void(TForm1&)> startThreads, std::function<void()> onClosed,
         MainWindowTiming timing = {});
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // True while a submission job is being started or runs; written by the job.
  bool& Busy;

  void Show();

  // Event handlers.
  void FormShow();
  void Timer1Timer();
  void Timer2Timer();
  void Button1Click();  // "Close": to the tray
  void Button3Click();  // "View": the browser window into sight
  void Restore1Click();
  void Unload1Click();  // ends the program
  void TrayIcon1Restore();
  void MinimizeApplication();

  GtkWindow* Window() const { return GTK_WINDOW(window_); }
  TTrayIcon& TrayIcon1() { return *tray_; }
  std::string ScheduleText() const;  // the text of lSchedule
  std::string ProblemText() const;   // the text of lProblem
  bool Timer2Enabled() const { return timer2_->Enabled(); }

 private:
  void BuildWindow();
  void ShowRunning();
  // Has the inbox wake this window (through the default main context) when an id comes in.
  void WakeOnQueued();
  template <typename Handler>
  void Guarded(Handler&& handler);

  SubmissionWindow& form2_;
  ScheduleInbox& inbox_;
  MessageBox& errors_;
  std::function<void(TForm1&)> startThreads_;
  std::function<void()> onClosed_;

  bool resumePending_ = true;  // jobs left unfinished by an earlier run come first

  GtkWidget* window_ = nullptr;
  GtkWidget* lSchedule_ = nullptr;
  GtkWidget* lProblem_ = nullptr;
  GtkWidget* popupMenu1_ = nullptr;
  std::unique_ptr<TTrayIcon> tray_;
  std::unique_ptr<UiTimer> timer1_;
  std::unique_ptr<UiTimer> timer2_;
  bool shown_ = false;
  bool closing_ = false;
  // What a wake-up queued from the schedule thread reaches: this window, or
  // nothing once it is gone. Read and cleared on the user-interface thread only.
  struct WakeTarget {
    TForm1* form;
  };
  std::shared_ptr<WakeTarget> wakeTarget_;
};

}  // namespace veltrane
