// TForm1: the main window. It shows the service's status and owns the tray
// icon; once a second, and at once when the schedule thread queues an id, it
// has the job dispatch start what comes next while no job runs, and shows
// whether one runs. User-interface thread only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

#include "app/tray_icon.h"
#include "jobs/job_dispatch.h"
#include "platform/message_box.h"
#include "platform/ui_timer.h"

namespace veltrane {

// What the main window needs of the browser window (TForm2): to place it.
class SubmissionWindow {
 public:
  virtual ~SubmissionWindow() = default;
  // Stay on top, move to left -10000 and show: visible to the system, out of sight.
  virtual void ShowOffScreen() = 0;
  // Brings the window into sight at the given left edge; top and size stay.
  virtual void MoveToLeft(int left) = 0;
};

struct MainWindowTiming {
  unsigned timer1Ms = 1000;  // queue check
  unsigned timer2Ms = 500;   // the one-off trip to the tray after start
};

class TForm1 {
 public:
  // `startThreads` runs once, when the window is first shown (the program
  // starts the schedule thread and the watchdog there). `onClosed` runs when
  // the window is closed by "Unload" (the program ends its main loop there).
  TForm1(SubmissionWindow& form2, JobDispatch& jobs, MessageBox& errors,
         std::function<void(TForm1&)> startThreads, std::function<void()> onClosed,
         MainWindowTiming timing = {});
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // True while a submission job is being started or runs; written by the job.
  bool Busy() const { return jobs_.Busy(); }

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
  template <typename Handler>
  void Guarded(Handler&& handler);

  SubmissionWindow& form2_;
  JobDispatch& jobs_;
  MessageBox& errors_;
  std::function<void(TForm1&)> startThreads_;
  std::function<void()> onClosed_;

  GtkWidget* window_ = nullptr;
  GtkWidget* lSchedule_ = nullptr;
  GtkWidget* lProblem_ = nullptr;
  GtkWidget* popupMenu1_ = nullptr;
  std::unique_ptr<TTrayIcon> tray_;
  std::unique_ptr<UiTimer> timer1_;
  std::unique_ptr<UiTimer> timer2_;
  bool shown_ = false;
  bool closing_ = false;
};

}  // namespace veltrane
