// WebKitBrowser: the browser control over one WebKitWebView, for an
// unattended browser. A completed top-level page is read by one script in an
// isolated world into one JSON text (with the main resource's bytes and the
// body's outer HTML only when the events want the page's text) and handed to
// DocumentComplete; its recorded actions are replayed in one script call. A
// page whose text is not wanted is read, delivered and replayed already at its
// pageshow, while its web process waits, before WebKit lays it out, unless
// requests its load started are still out: then it is read once they are
// answered (within readyBound). WatchPage follows a page's own requests
// (resource loads) and its document's changes (kPageWatchScript).
// Completions are delivered in the order the pages finished, also when a page
// navigates itself before it has been read (it then comes with what could be
// read of it). Every navigation carries a generation number, so a late
// completion or failure of an older load is never taken for the current page;
// after a Navigate, a page is delivered only when its load began with or after
// the load asked for.
// Every script call has a deadline; a web process that misses it is
// terminated, reported through NavigateError against the page it hung on, and
// the next Navigate starts a fresh one. A delivered page that sits (its
// caller waits, or a load it asked for has not committed) has its process
// probed every interval, so a page whose script loops for ever is found while
// it is still the caller's page, not when the next load does not start. A Navigate loads at once
// while the web process is known to answer, else after a probe; a load that does not start within
// the deadline has its process probed, and replaced when it does not answer. Script dialogs are
// answered at once, pop-ups and printing refused, forms we submit are sent in this view whatever
// their target, TLS certificate errors fail the load. A response WebKit would save as a file (an
// attachment, or a type the view cannot show) is refused at its response decision, and a download
// that starts anyway (a link to save) is cancelled before it has a file: nothing is ever written. A
// refused top-level load ends unshown, as if it had never started; when it is the one a Navigate
// asked for, the document still shown is read again and delivered. A view it creates keeps its
// website data in memory only. User-interface thread only; owns a reference to its view.
#pragma once

#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "browser/browser_control.h"
#include "browser/request_guard.h"
#include "platform/glib_handles.h"

namespace veltrane {

struct WebKitBrowserOptions {
  // How long a script call (snapshot, replay) may take before the web process
  // is taken for hung.
  std::chrono::milliseconds scriptDeadline{15000};
  // How long a delivered page may sit before its web process is probed, and
  // how long the probe may take: a page that sits runs no script of ours, so
  // a few seconds without an answer mean an endless loop.
  std::chrono::milliseconds probeInterval{1000};
  std::chrono::milliseconds probeDeadline{5000};
  // How long a loaded page may wait for the requests its load started (its
  // scripts' fetch and XHR, late images) before it is read anyway.
  std::chrono::milliseconds readyBound{2000};
  // How long a watched document must have been quiet to count as settled,
  // and how often a watched page is looked at.
  std::chrono::milliseconds quietTime{300};
  std::chrono::milliseconds watchInterval{100};
  // Starts the web process at once with a blank page of its own, whose events
  // go nowhere, so that the first Navigate does not wait for a process to start.
  bool warmUp = false;
};

class WebKitBrowser : public BrowserControl {
 public:
  // Drives `view` when given (a reference is taken), else creates its own in
  // an ephemeral web context: no cache, cookie, storage or HSTS file is
  // written, so no page or address of a job (a GET login's password
  // included) outlives the process.
  explicit WebKitBrowser(WebKitBrowserOptions options = {}, WebKitWebView* view = nullptr);
  ~WebKitBrowser() override;
  WebKitBrowser(const WebKitBrowser&) = delete;
  WebKitBrowser& operator=(const WebKitBrowser&) = delete;

  void SetEvents(BrowserEvents* events) override { events_ = events; }
  void Navigate(const std::string& url) override;
  std::string LocationURL() const override;
  void WatchPage(std::chrono::milliseconds least, std::chrono::milliseconds bound) override;
  void GuardRequests(std::vector<OriginRule> rules) override;
  void LeavePage(std::function<void()> left) override;

  // The view as a widget, for the window to pack.
  GtkWidget* Widget() const { return GTK_WIDGET(view_.get()); }
  WebKitWebView* View() const { return view_.get(); }
  // Whether `dialog` is one of this control's own prompts, not the page's.
  bool OwnsDialog(WebKitScriptDialog* dialog) const;

 private:
  struct Signals;
  // Ready: a replay whose answer lets a load wait for it start; Check: a
  // probe of a web process whose load did not start; Sitting: a probe of the
  // process of a delivered page that sits.
  // Watch: a look at a watched document (kPageWatchScript).
  // PageWorld: putting the custom-value helper in the page's own world.
  enum class CallKind { Snapshot, Source, Ready, Replay, Check, Sitting, Watch, PageWorld };
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
    bool withText = true;  // the source bytes and the body's outer HTML are read too
    bool snapshotDone = false;
    bool sourceDone = false;
    // A watched page read again: handed to PageSettled, and only while its
    // document is still the one shown. Its text is the body, not the source.
    std::optional<PageChange> settled;
  };
  struct Watch {
    std::uint64_t document;        // documents_ when it began
    std::uint64_t generation;      // generation_ when it began
    std::uint64_t requestsBefore;  // requestsStarted_ when it began
    std::chrono::steady_clock::time_point least;
    TimeoutSource bound;
    std::optional<TimeoutSource> next;  // the next look
    // The document's changes as its first look found them, and as the last did.
    std::optional<std::uint64_t> changesBefore;
    std::uint64_t changes = 0;
    // A navigation was let go since: the page is not settled before its load
    // starts (which ends the watch) or the bound passes (a frame's load).
    bool navigating = false;
  };

  void WireSignals();
  void OnLoadChanged(WebKitLoadEvent event);
  bool OnLoadFailed(const char* uri, const GError* error);
  bool OnDecidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
  void OnDownloadStarted(WebKitDownload* download);
  void OnPrint();
  void OnWebProcessTerminated();
  void OnWebProcessGone();

  bool RaiseNavigateError(const std::string& url, std::int32_t statusCode,
                          const std::string& message = "");
  bool RaiseNewWindow(const std::string& url);
  void RaiseDownloadRefused(const std::string& url, bool requested);
  void StartCompletion(std::optional<PageChange> settled = std::nullopt);
  // Reads the page that finished loading once the requests its load started
  // have been answered, or at readyBound.
  void StartCompletionWhenReady();
  // Reads the page waited for, unless it is gone or another load took over.
  void EndReadyWait();
  void OnRequestStarted(WebKitWebResource* resource);
  void OnRequestEnded(WebKitWebResource* resource);
  void ForgetRequests();
  // A look at the watched page; ends the watch when the page has moved on.
  void LookAtWatchedPage();
  bool WatchedPageStillShown() const;
  // Reads the watched page again, for PageSettled.
  void EndWatch();
  // A prompt of our pageshow script (PageShownScript), without the token; gives its answer.
  std::string OnPageShown(std::string_view message);
  bool TakesPageAtShow() const;
  int MainResourceStatus() const;
  void ReadCompletion(Completion& completion);
  // Puts the page-world helper (kCustomValueScript) in the current document,
  // then reads `completion` again.
  void PutPageWorldHelper(const Completion& completion);
  // Makes `page` the current page and hands it to DocumentComplete.
  // `settled`: a watched page read again, for PageSettled.
  void Deliver(const std::shared_ptr<Page>& page, std::uint64_t generation,
               const std::optional<PageChange>& settled = std::nullopt);
  void OnLoadNotStarted();
  void EndWarmUp();
  // Alive, answered since its current load started, and no call outstanding.
  bool Responsive() const;
  Completion* FindCompletion(std::uint64_t id);
  void DeliverCompleted();
  void Replay(std::vector<PageAction> actions, CallKind kind);
  // Probes the process of the page delivered last while no other document has committed.
  void OnPageSits();
  void LoadPendingUrl();
  // Carries out the Navigate asked for last, as the web process allows.
  void StartPendingNavigation();
  // The blank page LeavePage asked for has replaced the page, or never came.
  void EndLeave();

  std::uint64_t TrackCall(CallKind kind, std::uint64_t generation, std::uint64_t completion = 0,
                          std::optional<std::chrono::milliseconds> deadline = std::nullopt);
  std::optional<Call> TakeCall(std::uint64_t id);
  // `data`: the snapshot's JSON text or the source bytes; `answered`: the web
  // process answered (not expired, not failed with its process).
  void OnCallDone(std::uint64_t id, std::optional<std::string_view> data, bool answered);
  void OnCallExpired(std::uint64_t id);
  void FailAllCalls();

  WebKitBrowserOptions options_;
  GObjectPtr<WebKitWebView> view_;
  GObjectPtr<GCancellable> cancellable_;
  BrowserEvents* events_ = nullptr;

  // Where the top-level page's load stands. A page's load runs
  // Navigate -> (probe answered, unless known to answer) -> Requested -> STARTED -> Loading ->
  // FINISHED -> read (completions_) -> DocumentComplete; a failed load runs
  // Loading -> load-failed -> FailedBeforeErrorPage -> FINISHED -> ErrorPage ->
  // FINISHED -> the error page read like any other page; a load whose response
  // we refused as a download runs Loading -> load-failed -> Refused -> FINISHED
  // -> Loading, and, when a Navigate asked for it, the document still shown is
  // read again.
  enum class LoadState {
    // The current load, under way or finished: its FINISHED is a page to read.
    // Also the state before the first load and after a page was shown, since a
    // page may start a load of its own.
    Loading,
    // We asked for a load; until its STARTED, events belong to the load it replaces.
    Requested,
    // The current load failed and no error page follows: its FINISHED is no page.
    Failed,
    // We refused the current load's response as a download: it ended before
    // it committed, and the document before it is still shown.
    Refused,
    // The current load failed and WebKit loads its error page after its FINISHED.
    FailedBeforeErrorPage,
    // WebKit's error page is on its way; a load asked for now waits for it.
    ErrorPage,
  };
  // The web process, apart from the load: a hung process is ended, or a
  // process dies, whatever its page's load is doing, and that load's events
  // still arrive while it ends.
  enum class WebProcess {
    Absent,  // none yet, or gone: the next load starts a fresh one, with no probe
    Alive,   // has started a load
    Ending,  // a hung one is being terminated; loads wait until it is gone
  };

  static LoadState WithoutErrorPage(LoadState state);
  bool ExpectsErrorPage() const;
  bool ProbeOutstanding() const;
  bool CallOutstanding(CallKind kind) const;

  std::uint64_t generation_ = 0;  // advances with every load we start or see start
  // The generation of the last load a Navigate asked for, from its STARTED.
  std::uint64_t askedGeneration_ = 0;
  // Pages of loads of a lower generation are never delivered: from a Navigate
  // until its load starts, none is (kNoPageYet); from then on, that load's
  // page and the pages it navigates to by itself are.
  static constexpr std::uint64_t kNoPageYet = UINT64_MAX;
  std::uint64_t deliverFrom_ = 0;
  // The generation of the load that committed the document now shown.
  std::uint64_t documentGeneration_ = 0;
  // The generation of the last top-level load whose response we refused.
  std::uint64_t refusedGeneration_ = 0;
  LoadState load_ = LoadState::Loading;
  WebProcess process_ = WebProcess::Absent;
  // Set by load-failed-with-tls-errors for the load-failed WebKit emits right
  // after it, whichever load that is; not a state of the current load.
  bool tlsFailure_ = false;
  std::optional<TimeoutSource> errorPageFallback_;    // armed while a load waits for the error page
  std::optional<TimeoutSource> terminationFallback_;  // armed while Ending
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
  // documents_ when the current page was delivered, and the probe of its
  // process while that document is still shown (OnPageSits).
  std::uint64_t currentPageDocument_ = 0;
  std::optional<TimeoutSource> sittingProbe_;
  // The address of the page shown when a call expired: the page the process hung on.
  std::string hungPageUrl_;

  // Loads of the document shown, frames' and scripts' included, that have
  // not ended; counted from its commit, so its own main resource is not.
  std::map<WebKitWebResource*, GObjectPtr<WebKitWebResource>> pendingRequests_;
  std::uint64_t requestsStarted_ = 0;
  // Armed while a finished page waits for its requests (StartCompletionWhenReady).
  std::optional<TimeoutSource> readyWait_;
  std::uint64_t readyDocument_ = 0;
  std::optional<Watch> watch_;
  // documents_ when the page-world helper was put in the document: only pages
  // with custom controls get it, since a script in the page's own world costs
  // every page that has none.
  std::uint64_t pageWorldDocument_ = 0;
  // Set when an answer of the web process came after its current load started.
  bool answeredSinceStart_ = false;
  // The warm-up page is loading; a Navigate waits for its end (EndWarmUp).
  bool warmingUp_ = false;
  std::optional<TimeoutSource> warmUpFallback_;
  // Armed from a load asked for until it starts (OnLoadNotStarted).
  std::optional<TimeoutSource> loadStartFallback_;
  std::string requestedUrl_;  // the address of the last load asked for
  // The address Navigate asked for, until it is loaded. While a probe (a
  // Ready call, see ProbeOutstanding) is out, it waits for the probe's answer.
  std::optional<std::string> pendingUrl_;
  // A navigation action is with BeforeNavigate2: a Navigate waits for its answer.
  bool decidingNavigation_ = false;
  bool navigatedWhileDeciding_ = false;

  // Marks our pageshow script's prompts; unknown to the page.
  std::string token_;
  // The document and generation a pageshow read was offered to, until its snapshot comes.
  struct ShownPage {
    std::uint64_t document;
    std::uint64_t generation;
  };
  std::optional<ShownPage> shownPage_;
  // The document delivered at its pageshow, whose FINISHED is then no page to read.
  std::uint64_t documentDeliveredAtShow_ = 0;

  std::map<std::uint64_t, Call> calls_;
  std::uint64_t nextCallId_ = 1;

  std::unique_ptr<RequestGuard> guard_;
  // Set from LeavePage until the blank page has been committed.
  std::optional<std::function<void()>> leaving_;
  std::optional<TimeoutSource> leaveFallback_;
  std::optional<TimeoutSource> leftNotice_;
};

}  // namespace veltrane
