#include "app/main_window.h"

#include <utility>

#include "platform/glib_handles.h"
#include "platform/handler_guard.h"

namespace veltrane {
namespace {

GtkWidget* PlacedLabel(GtkWidget* fixed, const char* text, int x, int y, bool bold) {
  GtkWidget* label = gtk_label_new(nullptr);
  if (bold) {
    g_autofree char* markup = g_markup_printf_escaped("<b>%s</b>", text);
    gtk_label_set_markup(GTK_LABEL(label), markup);
  } else {
    gtk_label_set_text(GTK_LABEL(label), text);
  }
  gtk_fixed_put(GTK_FIXED(fixed), label, x, y);
  return label;
}

GtkWidget* PlacedButton(GtkWidget* fixed, const char* text, int x, int y) {
  GtkWidget* button = gtk_button_new_with_label(text);
  gtk_widget_set_size_request(button, 75, 25);
  gtk_fixed_put(GTK_FIXED(fixed), button, x, y);
  return button;
}

template <void (TForm1::*Handler)()>
void Call(GtkWidget*, gpointer self) {
  (static_cast<TForm1*>(self)->*Handler)();
}

}  // namespace

TForm1::TForm1(SubmissionWindow& form2, JobDispatch& jobs, MessageBox& errors,
               std::function<void(TForm1&)> startThreads, std::function<void()> onClosed,
               MainWindowTiming timing)
    : form2_(form2),
      jobs_(jobs),
      errors_(errors),
      startThreads_(std::move(startThreads)),
      onClosed_(std::move(onClosed)) {
  BuildWindow();
  timer1_ = std::make_unique<UiTimer>(timing.timer1Ms, true,
                                      [this] { Guarded([this] { Timer1Timer(); }); });
  timer2_ = std::make_unique<UiTimer>(timing.timer2Ms, true,
                                      [this] { Guarded([this] { Timer2Timer(); }); });
  jobs_.WakeOnQueued([this] { Guarded([this] { Timer1Timer(); }); });
}

TForm1::~TForm1() {
  jobs_.WakeOnQueued(nullptr);
  timer1_.reset();
  timer2_.reset();
  tray_.reset();
  if (window_) {
    g_signal_handlers_disconnect_by_data(window_, this);
    gtk_widget_destroy(window_);
  }
  if (popupMenu1_) gtk_widget_destroy(popupMenu1_);
}

template <typename Handler>
void TForm1::Guarded(Handler&& handler) {
  RunGuarded(errors_, std::forward<Handler>(handler));
}

void TForm1::BuildWindow() {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window_), "Veltrane service");
  gtk_window_move(GTK_WINDOW(window_), 211, 138);
  gtk_window_set_default_size(GTK_WINDOW(window_), 306, 165);
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  // No title-bar buttons: the program ends through the tray menu only.
  gtk_window_set_deletable(GTK_WINDOW(window_), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);

  const GObjectPtr<GtkCssProvider> css(gtk_css_provider_new());
  gtk_css_provider_load_from_data(css.get(), "* { font-family: Verdana; font-size: 8pt; }", -1,
                                  nullptr);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window_),
                                            GTK_STYLE_PROVIDER(css.get()),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

  GtkWidget* client = gtk_fixed_new();
  gtk_widget_set_size_request(client, 306, 165);
  gtk_container_add(GTK_CONTAINER(window_), client);

  GtkWidget* groupBox1 = gtk_frame_new("Status");
  gtk_widget_set_size_request(groupBox1, 273, 105);
  gtk_fixed_put(GTK_FIXED(client), groupBox1, 16, 16);
  GtkWidget* group = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(groupBox1), group);
  // Positions inside the group are relative to the frame's client area.
  PlacedLabel(group, "Service :", 24, 16, false);
  PlacedLabel(group, "Started", 96, 16, true);
  PlacedLabel(group, "Schedule : ", 24, 40, false);
  lSchedule_ = PlacedLabel(group, "Idle", 96, 40, true);
  // Empty unless due schedules cannot be taken (the database refuses writes).
  lProblem_ = PlacedLabel(group, "", 24, 64, false);
  gtk_label_set_ellipsize(GTK_LABEL(lProblem_), PANGO_ELLIPSIZE_END);
  gtk_widget_set_size_request(lProblem_, 240, -1);

  GtkWidget* button3 = PlacedButton(client, "View", 16, 128);
  GtkWidget* button1 = PlacedButton(client, "Close", 208, 128);
  g_signal_connect(button3, "clicked", G_CALLBACK(&Call<&TForm1::Button3Click>), this);
  g_signal_connect(button1, "clicked", G_CALLBACK(&Call<&TForm1::Button1Click>), this);

  popupMenu1_ = gtk_menu_new();
  g_object_ref_sink(popupMenu1_);
  GtkWidget* restore1 = gtk_menu_item_new_with_label("");
  gtk_label_set_markup(GTK_LABEL(gtk_bin_get_child(GTK_BIN(restore1))), "<b>Restore</b>");
  GtkWidget* unload1 = gtk_menu_item_new_with_label("Unload");
  gtk_menu_shell_append(GTK_MENU_SHELL(popupMenu1_), restore1);
  gtk_menu_shell_append(GTK_MENU_SHELL(popupMenu1_), unload1);
  gtk_widget_show_all(popupMenu1_);
  g_signal_connect(restore1, "activate", G_CALLBACK(&Call<&TForm1::Restore1Click>), this);
  g_signal_connect(unload1, "activate", G_CALLBACK(&Call<&TForm1::Unload1Click>), this);

  tray_ = std::make_unique<TTrayIcon>(GTK_WINDOW(window_), GTK_MENU(popupMenu1_));
  tray_->SetHint("Veltrane Service");
  tray_->OnRestore = [this] { TrayIcon1Restore(); };

  g_signal_connect(window_, "show", G_CALLBACK(&Call<&TForm1::FormShow>), this);
  // The window manager's minimise (if any) sends the program to the tray too.
  g_signal_connect(
      window_, "window-state-event",
      G_CALLBACK(+[](GtkWidget*, GdkEventWindowState* event, gpointer self) -> gboolean {
        if ((event->changed_mask & GDK_WINDOW_STATE_ICONIFIED) &&
            (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED))
          static_cast<TForm1*>(self)->MinimizeApplication();
        return FALSE;
      }),
      this);
  // A close request from outside (there is no close box) only sends it to the tray.
  g_signal_connect(window_, "delete-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                     auto* form = static_cast<TForm1*>(self);
                     if (form->closing_) return FALSE;
                     form->MinimizeApplication();
                     return TRUE;
                   }),
                   this);
}

void TForm1::Show() { gtk_widget_show_all(window_); }

std::string TForm1::ScheduleText() const { return gtk_label_get_text(GTK_LABEL(lSchedule_)); }

std::string TForm1::ProblemText() const { return gtk_label_get_text(GTK_LABEL(lProblem_)); }

void TForm1::FormShow() {
  if (shown_) return;  // once per process
  shown_ = true;
  Guarded([this] {
    tray_->SetHint("Veltrane Service");
    form2_.ShowOffScreen();
    if (startThreads_) startThreads_(*this);
  });
}

void TForm1::Timer1Timer() {
  const std::string problem = jobs_.Problem();
  gtk_label_set_text(GTK_LABEL(lProblem_), problem.c_str());
  gtk_widget_set_tooltip_text(lProblem_, problem.c_str());
  const JobDispatch::Turn turn = jobs_.Next();
  if (turn == JobDispatch::Turn::Running) return;
  tray_->SetIconIndex(0);
  tray_->SetHint("Veltrane Service :: Idle");
  gtk_label_set_markup(GTK_LABEL(lSchedule_), "<b>Idle</b>");
  if (turn == JobDispatch::Turn::Started) ShowRunning();
}

void TForm1::ShowRunning() {
  tray_->SetIconIndex(1);
  tray_->SetHint("Veltrane Service :: Running a schedule ...");
  gtk_label_set_markup(GTK_LABEL(lSchedule_), "<b>Submitting...</b>");
}

void TForm1::Timer2Timer() {
  timer2_->SetEnabled(false);
  MinimizeApplication();
}

void TForm1::MinimizeApplication() {
  tray_->Minimize();
  tray_->SetVisible(true);
}

void TForm1::Button1Click() {
  Guarded([this] { MinimizeApplication(); });
}

void TForm1::Button3Click() {
  Guarded([this] {
    int left = 0, top = 0;
    gtk_window_get_position(GTK_WINDOW(window_), &left, &top);
    form2_.MoveToLeft(left);
  });
}

void TForm1::Restore1Click() {
  Guarded([this] { tray_->Restore(); });
}

void TForm1::TrayIcon1Restore() { tray_->SetVisible(false); }

void TForm1::Unload1Click() {
  closing_ = true;
  tray_->SetVisible(false);
  gtk_widget_hide(window_);
  if (onClosed_) onClosed_();
}

}  // namespace veltrane
