#include "authoring/page_inspection.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>

#include "authoring/tool_window.h"
#include "browser/webkit_browser.h"
#include "engine/navigation_guards.h"
#include "platform/glib_handles.h"
#include "platform/ui_timer.h"

namespace veltrane::authoring {
namespace {

using Clock = std::chrono::steady_clock;

const char* DialogKind(WebKitScriptDialogType type) {
  switch (type) {
    case WEBKIT_SCRIPT_DIALOG_ALERT: return "alert";
    case WEBKIT_SCRIPT_DIALOG_CONFIRM: return "confirm";
    case WEBKIT_SCRIPT_DIALOG_PROMPT: return "prompt";
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM: return "leave page";
  }
  return "dialog";
}

// The browser window's handlers, as the service runs them, keeping what they
// saw. The loading indicator has nothing to show.
class InspectionEvents : public BrowserEvents, public LoadingIndicator, public TraceSink {
 public:
  explicit InspectionEvents(PageInspection& inspection) : inspection_(inspection) {}

  void DocumentComplete(Page& page) override {
    inspection_.pages.push_back(page);
    // A page a server answered follows the failure; the browser's error page does not.
    if (page.statusCode != 0) inspection_.networkError.clear();
    lastEvent = Clock::now();
  }
  void BeforeNavigate2(const std::string& url, bool& cancel) override {
    BrowserBeforeNavigate2(*this, *this, url, cancel);
  }
  void NewWindow2(const std::string& url, bool& cancel) override {
    BrowserNewWindow2(*this, url, cancel);
  }
  void PrintRefused(const std::string& url) override { BrowserPrintRefused(*this, url); }
  void DownloadRefused(const std::string& url, bool) override {
    BrowserDownloadRefused(*this, url);
  }
  void NavigateError(const std::string& url, std::int32_t statusCode, const std::string& message,
                     bool& cancel) override {
    BrowserNavigateError(*this, url, statusCode, message, cancel);
    if (!message.empty()) inspection_.networkError = message;
  }
  void ProgressChange(int, int) override {}
  void Show() override {}
  void Hide() override {}
  bool TraceLine(const std::string& text) override {
    inspection_.browserNotes.push_back(text);
    return true;
  }

  Clock::time_point lastEvent = Clock::now();

 private:
  PageInspection& inspection_;
};

struct DialogNotes {
  PageInspection& inspection;
  const WebKitBrowser* browser = nullptr;  // whose own prompts are not the page's
};

// Connected before the control's own handler, which answers every dialog:
// this one only notes the page's dialogs and lets the emission go on.
gboolean NoteDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer data) {
  DialogNotes& notes = *static_cast<DialogNotes*>(data);
  if (notes.browser && notes.browser->OwnsDialog(dialog)) return FALSE;
  const char* message = webkit_script_dialog_get_message(dialog);
  notes.inspection.dialogs.push_back(
      {DialogKind(webkit_script_dialog_get_dialog_type(dialog)), message ? message : ""});
  return FALSE;
}

}  // namespace

PageInspection InspectPage(const std::string& address, const InspectOptions& options) {
  PageInspection inspection;
  inspection.address = address;
  InspectionEvents events(inspection);

  // The view is made here, for the dialog handler to come first; its data is
  // kept in memory only, as in the control's own views.
  GObjectPtr<WebKitWebContext> context(webkit_web_context_new_ephemeral());
  WebKitWebView* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context.get()));
  DialogNotes notes{inspection};
  g_signal_connect(view, "script-dialog", G_CALLBACK(&NoteDialog), &notes);
  auto browser = std::make_unique<WebKitBrowser>(WebKitBrowserOptions{}, view);
  notes.browser = browser.get();
  browser->SetEvents(&events);

  auto window = std::make_unique<ToolWindow>(browser->Widget());

  browser->Navigate(address);
  const Clock::time_point end = Clock::now() + options.deadline;
  UiTimer wake(50, true, [] {});  // the loop below looks at the view at least this often
  while (true) {
    g_main_context_iteration(nullptr, TRUE);
    const Clock::time_point now = Clock::now();
    if (webkit_web_view_is_loading(view)) events.lastEvent = now;
    if (!inspection.pages.empty() && now - events.lastEvent >= options.settle) break;
    if (now >= end) {
      inspection.settled = false;
      break;
    }
  }

  browser->SetEvents(nullptr);
  g_signal_handlers_disconnect_by_data(view, &notes);
  window.reset();
  browser.reset();
  return inspection;
}

}  // namespace veltrane::authoring
