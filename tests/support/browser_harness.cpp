#include "tests/support/browser_harness.h"

#include "browser/engine_environment.h"
#include "tests/support/main_loop.h"

namespace veltrane::testing {
namespace {

struct Harness {
  GtkWidget* window = nullptr;
  std::unique_ptr<WebKitBrowser> browser;
};
std::unique_ptr<Harness> harness;

}  // namespace

void RecordingBrowserEvents::DocumentComplete(Page& page) {
  if (onDocumentComplete) onDocumentComplete(page);
  pages.push_back(page);
}

void RecordingBrowserEvents::BeforeNavigate2(const std::string& url, bool& cancel) {
  navigations.push_back(url);
  if (onBeforeNavigate) onBeforeNavigate(url, cancel);
}

void RecordingBrowserEvents::NewWindow2(const std::string& url, bool& cancel) {
  ++newWindows;
  newWindowAddresses.push_back(url);
  if (onNewWindow) onNewWindow(url, cancel);
}

void RecordingBrowserEvents::NavigateError(const std::string& url, std::int32_t statusCode,
                                           const std::string& message, bool& cancel) {
  errors.emplace_back(url, statusCode);
  if (onNavigateError) onNavigateError(url, statusCode, message, cancel);
}

bool RecordingBrowserEvents::HasError(const std::string& url, std::int32_t statusCode) const {
  for (const auto& error : errors) {
    if (error.first == url && error.second == statusCode) return true;
  }
  return false;
}

bool RecordingBrowserEvents::HasErrorCode(std::int32_t statusCode) const {
  for (const auto& error : errors) {
    if (error.second == statusCode) return true;
  }
  return false;
}

int RecordingBrowserEvents::PageAt(const std::string& url) const {
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (pages[i].location.rfind(url, 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

void BrowserHarness::Start(std::chrono::milliseconds scriptDeadline) {
  PrepareEngineEnvironment();  // the engine as the service runs it
  gtk_init(nullptr, nullptr);
  harness = std::make_unique<Harness>();
  WebKitBrowserOptions options;
  options.scriptDeadline = scriptDeadline;
  harness->browser = std::make_unique<WebKitBrowser>(options);
  harness->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(harness->window), 800, 600);
  gtk_container_add(GTK_CONTAINER(harness->window), harness->browser->Widget());
  gtk_widget_show_all(harness->window);
}

void BrowserHarness::Stop() {
  if (!harness) return;
  harness->browser.reset();
  gtk_widget_destroy(harness->window);
  harness.reset();
}

WebKitBrowser& BrowserHarness::Browser() { return *harness->browser; }

int BrowserHarness::LoadPage(RecordingBrowserEvents& events, const std::string& url) {
  Browser().SetEvents(&events);
  Browser().Navigate(url);
  RunMainLoopUntil([&] { return events.PageAt(url) >= 0; });
  return events.PageAt(url);
}

}  // namespace veltrane::testing
