// WebKitBrowser: the browser control over one WebKitWebView, for an
// unattended browser. A completed top-level page is read by one script in an
// isolated world together with the main resource's bytes and handed to
// DocumentComplete; its recorded actions are replayed in one script call.
// Completions are delivered in the order the pages finished, also when a page
// navigates itself before it has been read (it then comes with what could be
// read of it). Every navigation carries a generation number, so a late
// completion or failure of an older load is never taken for the current page.
// Every script call has a deadline; a web process that misses it is
// terminated, reported through NavigateError, and the next Navigate starts a
// fresh one. Script dialogs are answered at once, pop-ups and printing
// refused, forms we submit are sent in this view whatever their target, TLS
// certificate errors fail the load. User-interface thread only; owns a
// reference to its view.
#pragma once

#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/browser_control.h"
#include "browser/glib_handles.h"

namespace veltrane {

struct WebKitBrowserOptions {
  // How long a script call (snapshot, replay) may take before the web process
  // is taken for hung.
  std::chrono::milliseconds scriptDeadline{15000};
  // A private in-memory data store (no cookies or cache on disk); for tests.
  bool ephemeral = false;
};

class WebKitBrowser : public BrowserControl {
 public:
  // Drives `view` when given (a reference is taken), else creates its own.
  explicit WebKitBrowser(WebKitBrowserOptions options = {}, WebKitWebView* view = nullptr);
  ~WebKitBrowser() override;
  WebKitBrowser(const WebKitBrowser&) = delete;
  WebKitBrowser& operator=(const WebKitBrowser&) = delete;

  void SetEvents(BrowserEvents* events) override { events_ = events; }
  void Navigate(const std::string& url) override;
  std::string LocationURL() const override;

  // The view as a widget, for the window to pack.
  GtkWidget* Widget() const { return GTK_WIDGET(view_.get()); }
  WebKitWebView* View() const { return view_.get(); }

 private:
  struct Signals;
  enum class CallKind { Snapshot, Source, Ready, Replay };
  struct Call {
    CallKind kind;
    std::uint64_t generation;
    std::uint64_t completion;  // the completion a snapshot or source call reads for
    TimeoutSource deadline;
  };
  struct Completion {
    std::uint64_t id = 0;
    std::uint64_t generation = 0;
    std::uint64_t document = 0;  // documents_ when the page finished
    Page page;
    bool snapshotDone = false;
    bool sourceDone = false;
  };

  void WireSignals();
  void OnLoadChanged(WebKitLoadEvent event);
  bool OnLoadFailed(const char* uri, const GError* error);
  bool OnDecidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
  void OnPrint();
  void OnWebProcessTerminated();
  void OnWebProcessGone();

  bool RaiseNavigateError(const std::string& url, std::int32_t statusCode);
  bool RaiseNewWindow(const std::string& url);
  void StartCompletion();
  Completion* FindCompletion(std::uint64_t id);
  void DeliverCompleted();
  void Replay(std::vector<PageAction> actions, CallKind kind);
  void LoadPendingUrl();

  std::uint64_t TrackCall(CallKind kind, std::uint64_t generation, std::uint64_t completion = 0);
  std::optional<Call> TakeCall(std::uint64_t id);
  void OnCallDone(std::uint64_t id, JSCValue* value, const std::optional<std::string>& bytes);
  void OnCallExpired(std::uint64_t id);
  void FailAllCalls();

  WebKitBrowserOptions options_;
  GObjectPtr<WebKitWebView> view_;
  GObjectPtr<GCancellable> cancellable_;
  BrowserEvents* events_ = nullptr;

  std::uint64_t generation_ = 0;   // advances with every load we start or see start
  bool awaitingOwnStart_ = false;  // events before our load starts are the old load's
  bool skipNextFinish_ = false;    // a failed load's FINISHED is no page
  bool tlsFailure_ = false;
  bool errorPageExpected_ = false;  // WebKit loads its error page after a failure
  std::optional<TimeoutSource> errorPageFallback_;
  bool processAlive_ = false;
  bool terminating_ = false;  // a hung web process is being ended
  std::optional<TimeoutSource> terminationFallback_;
  std::string failingUri_;

  // Pages finished and being read, in the order they finished; only the
  // front one is delivered, so a page is never overtaken by a later one.
  std::deque<Completion> completions_;
  std::uint64_t nextCompletionId_ = 1;
  // Top-level documents committed so far: a read answered after the next
  // document committed may have read that one instead.
  std::uint64_t documents_ = 0;
  std::shared_ptr<Page> currentPage_;
  std::uint64_t currentPageGeneration_ = 0;
  std::optional<std::string> pendingUrl_;
  bool readyCallOutstanding_ = false;

  std::map<std::uint64_t, Call> calls_;
  std::uint64_t nextCallId_ = 1;
};

}  // namespace veltrane
