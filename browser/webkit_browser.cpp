#include "browser/webkit_browser.h"

#include <utility>

#include "browser/navigate_status_of.h"
#include "browser/page_scripts.h"
#include "browser/page_snapshot.h"
#include "browser/page_watch_script.h"

namespace veltrane {
namespace {

// Handed to an async WebKit call; the callback owns it. A cancelled
// cancellable means the control is gone and must not be touched.
struct CallTag {
  GObjectPtr<GCancellable> cancellable;
  WebKitBrowser* owner;
  std::uint64_t id;
};

GObjectPtr<GCancellable> Ref(GCancellable* cancellable) {
  return GObjectPtr<GCancellable>(G_CANCELLABLE(g_object_ref(cancellable)));
}

// Whether WebKit would save the response as a file rather than show it: a type
// the view cannot show, or an attachment (the disposition type before any
// parameters, as WebKit reads it). A response without content (204, 205) has
// nothing to save: WebKit stays on the page by itself.
bool WouldBeSaved(WebKitResponsePolicyDecision* decision) {
  WebKitURIResponse* response = webkit_response_policy_decision_get_response(decision);
  const guint status = webkit_uri_response_get_status_code(response);
  if (status == 204 || status == 205) return false;
  if (!webkit_response_policy_decision_is_mime_type_supported(decision)) return true;
  SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
  const char* disposition =
      headers ? soup_message_headers_get_one(headers, "Content-Disposition") : nullptr;
  if (!disposition) return false;
  std::string_view type(disposition);
  type = type.substr(0, type.find(';'));
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!type.empty() && blank(type.front())) type.remove_prefix(1);
  while (!type.empty() && blank(type.back())) type.remove_suffix(1);
  return type.size() == 10 && g_ascii_strncasecmp(type.data(), "attachment", 10) == 0;
}

WebKitWebView* CreateView() {
  // The default context keeps a disk cache and cookies under the user's folders.
  GObjectPtr<WebKitWebContext> context(webkit_web_context_new_ephemeral());
  PrepareWebContext(context.get());
  return WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context.get()));
}

}  // namespace

// The C signal and callback entry points; each delegates to the control.
struct WebKitBrowser::Signals {
  static WebKitBrowser* Self(gpointer data) { return static_cast<WebKitBrowser*>(data); }

  static void LoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    Self(data)->OnLoadChanged(event);
  }
  static gboolean LoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                             gpointer data) {
    return Self(data)->OnLoadFailed(uri, error);
  }
  static gboolean TlsFailed(WebKitWebView*, gchar*, GTlsCertificate*, GTlsCertificateFlags,
                            gpointer data) {
    // Not handled here: WebKit goes on with load-failed, which reports it.
    Self(data)->tlsFailure_ = true;
    return FALSE;
  }
  static gboolean DecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                               WebKitPolicyDecisionType type, gpointer data) {
    return Self(data)->OnDecidePolicy(decision, type);
  }
  static void DownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer data) {
    Self(data)->OnDownloadStarted(download);
  }
  static GtkWidget* Create(WebKitWebView*, WebKitNavigationAction* action, gpointer data) {
    // window.open comes here directly; no view means no window.
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    Self(data)->RaiseNewWindow(uri ? uri : "");
    return nullptr;
  }
  static gboolean ScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer data) {
    // An unanswered dialog stalls the page and every pending script call.
    if (Self(data)->OwnsDialog(dialog)) {
      const std::string_view message = webkit_script_dialog_get_message(dialog);
      const std::string answer = Self(data)->OnPageShown(message.substr(Self(data)->token_.size()));
      webkit_script_dialog_prompt_set_text(dialog, answer.c_str());
      return TRUE;
    }
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
      case WEBKIT_SCRIPT_DIALOG_ALERT: break;
      case WEBKIT_SCRIPT_DIALOG_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        break;
      case WEBKIT_SCRIPT_DIALOG_PROMPT:
        webkit_script_dialog_prompt_set_text(dialog,
                                             webkit_script_dialog_prompt_get_default_text(dialog));
        break;
      case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
        // Confirmed means leave the page; otherwise even our own next load is dropped.
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        break;
    }
    return TRUE;
  }
  static gboolean Print(WebKitWebView*, WebKitPrintOperation*, gpointer data) {
    // The default handler runs a modal GTK print dialog in this process.
    Self(data)->OnPrint();
    return TRUE;
  }
  static gboolean Authenticate(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
    // Nobody is there to log in; the load goes on with the server's refusal.
    webkit_authentication_request_cancel(request);
    return TRUE;
  }
  static void Terminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data) {
    Self(data)->OnWebProcessTerminated();
  }
  static void RequestStarted(WebKitWebView*, WebKitWebResource* resource, WebKitURIRequest*,
                             gpointer data) {
    Self(data)->OnRequestStarted(resource);
  }
  static void RequestFinished(WebKitWebResource* resource, gpointer data) {
    Self(data)->OnRequestEnded(resource);
  }
  static void RequestFailed(WebKitWebResource* resource, GError*, gpointer data) {
    Self(data)->OnRequestEnded(resource);
  }
  static void Progress(GObject* view, GParamSpec*, gpointer data) {
    const double progress = webkit_web_view_get_estimated_load_progress(WEBKIT_WEB_VIEW(view));
    if (Self(data)->events_ && !Self(data)->warmingUp_)
      Self(data)->events_->ProgressChange(static_cast<int>(progress * 100), 100);
  }

  static void ScriptDone(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<CallTag> tag(static_cast<CallTag*>(data));
    GError* error = nullptr;
    g_autoptr(JSCValue) value = webkit_web_view_call_async_javascript_function_finish(
        WEBKIT_WEB_VIEW(source), result, &error);
    g_clear_error(&error);
    if (g_cancellable_is_cancelled(tag->cancellable.get())) return;
    // The snapshot's answer is one JSON text; the other scripts' answers are not read.
    g_autofree char* text =
        value && jsc_value_is_string(value) ? jsc_value_to_string(value) : nullptr;
    tag->owner->OnCallDone(tag->id, text ? std::optional<std::string_view>(text) : std::nullopt,
                           true);
  }
  static void SourceDone(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<CallTag> tag(static_cast<CallTag*>(data));
    GError* error = nullptr;
    gsize length = 0;
    g_autofree guchar* bytes =
        webkit_web_resource_get_data_finish(WEBKIT_WEB_RESOURCE(source), result, &length, &error);
    g_clear_error(&error);
    if (g_cancellable_is_cancelled(tag->cancellable.get())) return;
    std::optional<std::string_view> text;
    if (bytes) text.emplace(reinterpret_cast<const char*>(bytes), length);
    tag->owner->OnCallDone(tag->id, text, true);
  }
};

WebKitBrowser::WebKitBrowser(WebKitBrowserOptions options, WebKitWebView* view)
    : options_(options),
      view_(WEBKIT_WEB_VIEW(g_object_ref_sink(view ? view : CreateView()))),
      cancellable_(g_cancellable_new()) {
  WebKitSettings* settings = webkit_web_view_get_settings(view_.get());
  // Lets window.open reach `create`, where it is reported and refused.
  webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
  WebKitWebsiteDataManager* data =
      webkit_web_context_get_website_data_manager(webkit_web_view_get_context(view_.get()));
  webkit_website_data_manager_set_tls_errors_policy(data, WEBKIT_TLS_ERRORS_POLICY_FAIL);
  WireSignals();
  guard_ = std::make_unique<RequestGuard>(
      view_.get(),
      [this](const std::string& host) {
        if (events_) events_->RequestRefused(host);
      },
      [this] {
        if (events_) events_->RequestGuardUnconfirmed();
      });
  g_autofree char* token = g_uuid_string_random();
  token_ = std::string("veltrane:") + token + ":";
  WebKitUserScript* script = webkit_user_script_new_for_world(
      PageShownScript(token_).c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kScriptWorld, nullptr, nullptr);
  webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view_.get()),
                                         script);
  webkit_user_script_unref(script);
  if (options_.warmUp) {
    // A web process starts now, while the program is still setting up, rather
    // than when the first page is asked for. The blank page's events are our own.
    warmingUp_ = true;
    // A warm-up that never ends holds up no load for longer than a script call may take.
    warmUpFallback_.emplace(options_.scriptDeadline, [this] { EndWarmUp(); });
    webkit_web_view_load_uri(view_.get(), "about:blank");
  }
}

WebKitBrowser::~WebKitBrowser() {
  guard_.reset();
  ForgetRequests();
  g_signal_handlers_disconnect_by_data(view_.get(), this);
  g_signal_handlers_disconnect_by_data(webkit_web_view_get_context(view_.get()), this);
  g_cancellable_cancel(cancellable_.get());
}

void WebKitBrowser::WireSignals() {
  GObject* view = G_OBJECT(view_.get());
  g_signal_connect(view, "load-changed", G_CALLBACK(&Signals::LoadChanged), this);
  g_signal_connect(view, "load-failed", G_CALLBACK(&Signals::LoadFailed), this);
  g_signal_connect(view, "load-failed-with-tls-errors", G_CALLBACK(&Signals::TlsFailed), this);
  g_signal_connect(view, "decide-policy", G_CALLBACK(&Signals::DecidePolicy), this);
  g_signal_connect(view, "create", G_CALLBACK(&Signals::Create), this);
  g_signal_connect(view, "script-dialog", G_CALLBACK(&Signals::ScriptDialog), this);
  g_signal_connect(view, "print", G_CALLBACK(&Signals::Print), this);
  g_signal_connect(view, "authenticate", G_CALLBACK(&Signals::Authenticate), this);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(&Signals::Terminated), this);
  g_signal_connect(view, "notify::estimated-load-progress", G_CALLBACK(&Signals::Progress), this);
  g_signal_connect(view, "resource-load-started", G_CALLBACK(&Signals::RequestStarted), this);
  // Downloads are the context's, whichever of its views they come from.
  g_signal_connect(webkit_web_view_get_context(view_.get()), "download-started",
                   G_CALLBACK(&Signals::DownloadStarted), this);
}

bool WebKitBrowser::OwnsDialog(WebKitScriptDialog* dialog) const {
  const char* message = webkit_script_dialog_get_message(dialog);
  return webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_PROMPT && message &&
         std::string_view(message).starts_with(token_);
}

std::string WebKitBrowser::LocationURL() const {
  const char* uri = webkit_web_view_get_uri(view_.get());
  // After a failed load WebKit forgets the address; the failing one is kept.
  if (!uri || !*uri) return failingUri_;
  return uri;
}

void WebKitBrowser::Navigate(const std::string& url) {
  // A page asked for replaces the one being left as surely as the blank one.
  if (leaving_ && url != "about:blank") EndLeave();
  const std::size_t start = url.find_first_not_of(" \t\r\n\f\v");
  if (start != std::string::npos &&
      g_ascii_strncasecmp(url.c_str() + start, "javascript:", 11) == 0) {
    // WebKit runs such an address in the current page without a navigation
    // decision: the guard is asked here instead, and a refusal loads nothing.
    bool cancel = false;
    if (events_) events_->BeforeNavigate2(url, cancel);
    if (cancel) return;
  }
  // Pages finished but not yet delivered are what the caller moves away from;
  // delivered now, they would be taken for the page it asked for.
  completions_.clear();
  readyWait_.reset();
  watch_.reset();
  // Nor is any page that starts loading before the load asked for here.
  deliverFrom_ = kNoPageYet;
  pendingUrl_ = url;
  // Asked for while a navigation is being decided: started once that one has
  // its answer, so the answer cannot be taken for this load's.
  if (decidingNavigation_) {
    navigatedWhileDeciding_ = true;
    return;
  }
  StartPendingNavigation();
}

void WebKitBrowser::StartPendingNavigation() {
  if (!pendingUrl_) return;
  if (warmingUp_) return;          // loads when the warm-up page is done
  if (ProbeOutstanding()) return;  // the load already waiting takes the newer address
  std::vector<PageAction> actions;
  if (currentPage_) actions = currentPage_->TakeActions();
  switch (process_) {
    case WebProcess::Ending: return;  // loads once the hung process is gone
    case WebProcess::Absent: LoadPendingUrl(); return;
    case WebProcess::Alive:
      if (actions.empty() && Responsive()) {
        // No round trip first: a hung process would show as a load that does
        // not start (OnLoadNotStarted).
        LoadPendingUrl();
        return;
      }
      // The replay doubles as a probe: a hung web process misses its deadline
      // and is terminated, and the load then starts in a fresh one.
      Replay(std::move(actions), CallKind::Ready);
      return;
  }
}

void WebKitBrowser::LoadPendingUrl() {
  if (!pendingUrl_) return;
  if (ExpectsErrorPage()) {
    // WebKit's error page, once asked for, wins over a load started after it;
    // the load waits until that page is done.
    if (!errorPageFallback_) {
      errorPageFallback_.emplace(options_.scriptDeadline, [this] {
        load_ = WithoutErrorPage(load_);
        errorPageFallback_.reset();
        LoadPendingUrl();
      });
    }
    return;
  }
  requestedUrl_ = std::move(*pendingUrl_);
  pendingUrl_.reset();
  ++generation_;
  completions_.clear();
  load_ = LoadState::Requested;
  // Armed first: STARTED may come from inside the call.
  loadStartFallback_.emplace(options_.scriptDeadline, [this] { OnLoadNotStarted(); });
  // The load this one replaces reports its failure and FINISHED from inside this call.
  webkit_web_view_load_uri(view_.get(), requestedUrl_.c_str());
}

// A load that has not started within the deadline may sit in a web process
// that no longer answers: a probe finds out, and a process that misses it is
// replaced and loads the address again (OnWebProcessGone).
void WebKitBrowser::OnLoadNotStarted() {
  loadStartFallback_.reset();
  if (load_ != LoadState::Requested || process_ != WebProcess::Alive || ProbeOutstanding()) return;
  Replay({}, CallKind::Check);
}

bool WebKitBrowser::Responsive() const {
  return process_ == WebProcess::Alive && answeredSinceStart_ && calls_.empty();
}

void WebKitBrowser::OnLoadChanged(WebKitLoadEvent event) {
  if (warmingUp_) {
    if (event == WEBKIT_LOAD_STARTED) process_ = WebProcess::Alive;
    if (event == WEBKIT_LOAD_FINISHED) {
      answeredSinceStart_ = process_ == WebProcess::Alive;  // it reported the page done
      EndWarmUp();
    }
    return;
  }
  switch (event) {
    case WEBKIT_LOAD_STARTED:
      ++generation_;
      // Asked for by Navigate: its STARTED is the first one after the request.
      if (load_ == LoadState::Requested) {
        askedGeneration_ = generation_;
        deliverFrom_ = generation_;
      }
      loadStartFallback_.reset();
      answeredSinceStart_ = false;
      // The page left is not read once its requests end, nor watched.
      readyWait_.reset();
      watch_.reset();
      // Only the error page's FINISHED ends the wait for it, not its STARTED.
      load_ = ExpectsErrorPage() ? LoadState::ErrorPage : LoadState::Loading;
      tlsFailure_ = false;
      failingUri_.clear();
      if (process_ == WebProcess::Absent) process_ = WebProcess::Alive;
      // A page that navigates itself at once reports its FINISHED before this
      // STARTED; its completion stays in flight and is delivered first.
      break;
    case WEBKIT_LOAD_COMMITTED:
      ++documents_;
      if (leaving_ && LocationURL() == "about:blank") EndLeave();
      // The loads of the document before, and the new one's own main resource, are not its
      // requests.
      ForgetRequests();
      documentGeneration_ = generation_;
      if (events_) events_->NavigateComplete2(LocationURL());
      break;
    case WEBKIT_LOAD_FINISHED:
      switch (load_) {
        case LoadState::Requested: return;  // the replaced load's
        case LoadState::Failed: load_ = LoadState::Loading; return;
        case LoadState::Refused:
          load_ = LoadState::Loading;
          // Whoever asked for the refused load waits for a page: the one still
          // shown is read again, unless a newer load is already waiting.
          if (askedGeneration_ == generation_ && !pendingUrl_) StartCompletion();
          return;
        case LoadState::FailedBeforeErrorPage:
          // WebKit's error page follows as a load of its own.
          load_ = LoadState::ErrorPage;
          return;
        case LoadState::ErrorPage:
          load_ = LoadState::Loading;
          if (pendingUrl_ && !ProbeOutstanding()) {
            // A Navigate asked for while the error page was on its way replaces it.
            errorPageFallback_.reset();
            LoadPendingUrl();
            return;
          }
          StartCompletion();
          return;
        case LoadState::Loading:
          if (documentDeliveredAtShow_ != documents_) StartCompletionWhenReady();
          return;
      }
      break;
    default: break;
  }
}

bool WebKitBrowser::OnLoadFailed(const char* uri, const GError* error) {
  if (warmingUp_) return false;
  const std::string url = uri ? uri : "";
  const bool current = load_ != LoadState::Requested;
  const bool policy = g_error_matches(error, WEBKIT_POLICY_ERROR,
                                      WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE);
  // A load whose response we refused ends before it committed: the document
  // before it is still the page. WebKit ends others so too (a 204), which
  // leave no page as before.
  const bool refused = current && policy && refusedGeneration_ == generation_;
  if (current) {
    if (ExpectsErrorPage())
      load_ = LoadState::FailedBeforeErrorPage;
    else
      load_ = refused ? LoadState::Refused : LoadState::Failed;
    if (!refused) failingUri_ = url;
  }
  const bool tls = std::exchange(tlsFailure_, false);
  // A load replaced by another, or ended by a policy decision, is no error.
  if (policy || g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED))
    return false;
  // Set first: the handler may already ask for the next page.
  if (current) load_ = LoadState::FailedBeforeErrorPage;
  const bool cancel =
      RaiseNavigateError(url, tls ? navigate_status::kInvalidCertificate : NavigateStatusOf(error),
                         error->message ? error->message : "");
  if (cancel) load_ = WithoutErrorPage(load_);  // no error page is shown
  return cancel;
}

bool WebKitBrowser::OnDecidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) {
  switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
      if (warmingUp_) return false;  // the blank page of the warm-up
      WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
          WEBKIT_NAVIGATION_POLICY_DECISION(decision));
      const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
      bool cancel = false;
      decidingNavigation_ = true;
      navigatedWhileDeciding_ = false;
      if (events_) events_->BeforeNavigate2(uri ? uri : "", cancel);
      decidingNavigation_ = false;
      // The handler asked for a page of its own: that one replaces this one.
      const bool navigated = std::exchange(navigatedWhileDeciding_, false);
      if (!cancel && !navigated) {
        // Let go: a watched page that is starting a load of its own (a form
        // it sent) does not count as settled while the load may still start.
        if (watch_) watch_->navigating = true;
        return false;
      }
      // A refused load never starts, so nothing older is left to wait out;
      // pages that start loading from now on are delivered.
      if (load_ == LoadState::Requested) {
        load_ = LoadState::Loading;
        loadStartFallback_.reset();
        if (!pendingUrl_ && !navigated) deliverFrom_ = generation_ + 1;
      }
      webkit_policy_decision_ignore(decision);
      if (navigated) StartPendingNavigation();
      return true;
    }
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: {
      WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
          WEBKIT_NAVIGATION_POLICY_DECISION(decision));
      const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
      RaiseNewWindow(uri ? uri : "");
      webkit_policy_decision_ignore(decision);
      return true;
    }
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
      WebKitResponsePolicyDecision* responseDecision = WEBKIT_RESPONSE_POLICY_DECISION(decision);
      WebKitURIResponse* response = webkit_response_policy_decision_get_response(responseDecision);
      const char* uri = webkit_uri_response_get_uri(response);
      const guint status = webkit_uri_response_get_status_code(response);
      if (status >= 400) RaiseNavigateError(uri ? uri : "", static_cast<std::int32_t>(status));
      if (!WouldBeSaved(responseDecision)) return false;  // WebKit's own handling shows the page
      // Never downloaded: the load ends unshown (OnLoadFailed), frames' loads alike.
      const bool topLevel =
          webkit_response_policy_decision_is_main_frame_main_resource(responseDecision);
      if (topLevel) refusedGeneration_ = generation_;
      webkit_policy_decision_ignore(decision);
      RaiseDownloadRefused(uri ? uri : "", topLevel && load_ != LoadState::Requested &&
                                               generation_ == askedGeneration_);
      return true;
    }
    default: return false;
  }
}

void WebKitBrowser::OnDownloadStarted(WebKitDownload* download) {
  // Only API calls start a download without a view, and this program makes none.
  WebKitWebView* from = webkit_download_get_web_view(download);
  if (from && from != view_.get()) return;  // another control's
  // Cancelled before it is given a file, so nothing is written.
  webkit_download_cancel(download);
  WebKitURIRequest* request = webkit_download_get_request(download);
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  RaiseDownloadRefused(uri ? uri : "", false);
}

void WebKitBrowser::OnPrint() {
  if (events_) events_->PrintRefused(LocationURL());
}

void WebKitBrowser::OnWebProcessTerminated() {
  std::string url = std::exchange(hungPageUrl_, "");
  RaiseNavigateError(url.empty() ? LocationURL() : url, navigate_status::kPageEnded);
  OnWebProcessGone();
}

void WebKitBrowser::EndWarmUp() {
  warmingUp_ = false;
  warmUpFallback_.reset();
  if (process_ != WebProcess::Ending) LoadPendingUrl();
}

void WebKitBrowser::OnWebProcessGone() {
  warmingUp_ = false;
  warmUpFallback_.reset();
  process_ = WebProcess::Absent;
  answeredSinceStart_ = false;
  terminationFallback_.reset();
  sittingProbe_.reset();
  hungPageUrl_.clear();
  loadStartFallback_.reset();
  // A load asked for that never started went with the process: asked again.
  if (load_ == LoadState::Requested && !pendingUrl_ && !requestedUrl_.empty())
    pendingUrl_ = requestedUrl_;
  load_ = WithoutErrorPage(load_);  // a gone process shows no error page
  errorPageFallback_.reset();
  FailAllCalls();
  if (!ProbeOutstanding()) LoadPendingUrl();
}

WebKitBrowser::LoadState WebKitBrowser::WithoutErrorPage(LoadState state) {
  switch (state) {
    case LoadState::FailedBeforeErrorPage: return LoadState::Failed;
    case LoadState::ErrorPage: return LoadState::Loading;
    default: return state;
  }
}

bool WebKitBrowser::ExpectsErrorPage() const {
  return load_ == LoadState::FailedBeforeErrorPage || load_ == LoadState::ErrorPage;
}

// The probe's own call record is its state: it is out exactly as long as the
// Ready call is tracked.
bool WebKitBrowser::ProbeOutstanding() const { return CallOutstanding(CallKind::Ready); }

bool WebKitBrowser::CallOutstanding(CallKind kind) const {
  for (const auto& [id, call] : calls_) {
    if (call.kind == kind) return true;
  }
  return false;
}

bool WebKitBrowser::RaiseNavigateError(const std::string& url, std::int32_t statusCode,
                                       const std::string& message) {
  bool cancel = false;
  if (events_) events_->NavigateError(url, statusCode, message, cancel);
  return cancel;
}

void WebKitBrowser::RaiseDownloadRefused(const std::string& url, bool requested) {
  if (events_) events_->DownloadRefused(url, requested);
}

bool WebKitBrowser::RaiseNewWindow(const std::string& url) {
  bool cancel = false;
  if (events_) events_->NewWindow2(url, cancel);
  // There is no second window to open a pop-up in, whatever the handler said.
  return cancel;
}

void WebKitBrowser::StartCompletionWhenReady() {
  if (pendingRequests_.empty()) {
    StartCompletion();
    return;
  }
  readyDocument_ = documents_;
  readyWait_.emplace(options_.readyBound, [this] { EndReadyWait(); });
}

void WebKitBrowser::EndReadyWait() {
  readyWait_.reset();
  if (documents_ == readyDocument_ && load_ == LoadState::Loading) StartCompletion();
}

void WebKitBrowser::OnRequestStarted(WebKitWebResource* resource) {
  if (warmingUp_ || documents_ == 0) return;
  ++requestsStarted_;
  g_signal_connect(resource, "finished", G_CALLBACK(&Signals::RequestFinished), this);
  g_signal_connect(resource, "failed", G_CALLBACK(&Signals::RequestFailed), this);
  pendingRequests_.emplace(
      resource, GObjectPtr<WebKitWebResource>(WEBKIT_WEB_RESOURCE(g_object_ref(resource))));
}

void WebKitBrowser::OnRequestEnded(WebKitWebResource* resource) {
  auto found = pendingRequests_.find(resource);
  if (found == pendingRequests_.end()) return;
  g_signal_handlers_disconnect_by_data(resource, this);
  pendingRequests_.erase(found);
  if (pendingRequests_.empty() && readyWait_) EndReadyWait();
}

void WebKitBrowser::ForgetRequests() {
  for (auto& [resource, held] : pendingRequests_)
    g_signal_handlers_disconnect_by_data(resource, this);
  pendingRequests_.clear();
}

void WebKitBrowser::WatchPage(std::chrono::milliseconds least, std::chrono::milliseconds bound) {
  watch_.reset();
  if (!currentPage_ || documents_ != currentPageDocument_ || process_ != WebProcess::Alive ||
      pendingUrl_ || load_ == LoadState::Requested)
    return;
  watch_.emplace(
      Watch{documents_, generation_, requestsStarted_, std::chrono::steady_clock::now() + least,
            TimeoutSource(bound, [this] { EndWatch(); }), std::nullopt, std::nullopt, 0, false});
  // The first look starts the document's observer, so changes count from
  // then. A page whose actions are still to run (a form being sent) is
  // looked at a moment later: most of them leave it before that, at no cost.
  if (currentPage_->Actions().empty()) {
    LookAtWatchedPage();
  } else {
    // The replay sending the form starts the count afresh.
    watch_->changesBefore = 0;
    watch_->next.emplace(options_.watchInterval, [this] { LookAtWatchedPage(); });
  }
}

bool WebKitBrowser::WatchedPageStillShown() const {
  return watch_ && documents_ == watch_->document && generation_ == watch_->generation &&
         process_ == WebProcess::Alive && !pendingUrl_ && load_ != LoadState::Requested;
}

void WebKitBrowser::LookAtWatchedPage() {
  if (!WatchedPageStillShown()) {
    watch_.reset();
    return;
  }
  watch_->next.reset();
  if (!CallOutstanding(CallKind::Watch)) {
    auto tag = std::make_unique<CallTag>(
        CallTag{Ref(cancellable_.get()), this, TrackCall(CallKind::Watch, generation_)});
    webkit_web_view_call_async_javascript_function(view_.get(), kPageWatchScript, -1, nullptr,
                                                   kScriptWorld, nullptr, cancellable_.get(),
                                                   &Signals::ScriptDone, tag.release());
  }
}

void WebKitBrowser::EndWatch() {
  if (!WatchedPageStillShown()) {
    watch_.reset();
    return;
  }
  const PageChange change{requestsStarted_ > watch_->requestsBefore,
                          watch_->changes > watch_->changesBefore.value_or(0)};
  const bool looking = CallOutstanding(CallKind::Watch);
  watch_.reset();
  // A page that has not answered its last look may be hung: reading it would
  // say nothing, and the probe of a sitting page deals with it.
  if (looking) return;
  StartCompletion(change);
}

void WebKitBrowser::StartCompletion(std::optional<PageChange> settled) {
  Completion& completion = completions_.emplace_back();
  completion.settled = settled;
  completion.id = nextCompletionId_++;
  completion.generation = generation_;
  completion.document = documents_;
  completion.page.location = LocationURL();
  completion.page.statusCode = MainResourceStatus();
  completion.withText = !events_ || events_->WantsPageText();
  ReadCompletion(completion);
}

int WebKitBrowser::MainResourceStatus() const {
  WebKitWebResource* resource = webkit_web_view_get_main_resource(view_.get());
  WebKitURIResponse* response = resource ? webkit_web_resource_get_response(resource) : nullptr;
  // 0 for pages without an HTTP response (about:blank, WebKit's error pages).
  return response ? static_cast<int>(webkit_uri_response_get_status_code(response)) : 0;
}

// Only an ordinary page of the current load, with nothing before it still to
// deliver and no load waiting, is taken at its pageshow; any other page is read
// at its FINISHED as before. The page's text (its source bytes) cannot be read
// while its web process waits for our answer.
bool WebKitBrowser::TakesPageAtShow() const {
  return events_ && !warmingUp_ && process_ == WebProcess::Alive && load_ == LoadState::Loading &&
         pendingRequests_.empty() && documents_ > 0 && documentGeneration_ >= deliverFrom_ &&
         documentDeliveredAtShow_ != documents_ && completions_.empty() && !pendingUrl_ &&
         !ProbeOutstanding() && !events_->WantsPageText();
}

std::string WebKitBrowser::OnPageShown(std::string_view message) {
  // From a replay on the document shown, whichever way it was replayed.
  if (message == kSubmitDisabledPrompt) {
    if (events_) events_->SubmitDisabled(LocationURL());
    return "";
  }
  if (message == "?") {
    shownPage_.reset();
    if (!TakesPageAtShow()) return "";
    shownPage_ = ShownPage{documents_, generation_};
    return std::to_string(generation_);
  }
  // Between the two prompts the page may have been left, or its text become wanted.
  const std::optional<ShownPage> shown = std::exchange(shownPage_, std::nullopt);
  if (!shown || shown->document != documents_ || shown->generation != generation_ ||
      !TakesPageAtShow())
    return "";
  answeredSinceStart_ = true;
  auto page = std::make_shared<Page>();
  page->location = LocationURL();
  page->statusCode = MainResourceStatus();
  // A page with custom controls is read at its end instead, once the helper is in it.
  if (ReadSnapshot(message, *page) && pageWorldDocument_ != documents_) return "";
  documentDeliveredAtShow_ = documents_;
  const std::uint64_t guardsBefore = guard_->Sets();
  Deliver(page, generation_);
  // The web process waits for our answer and takes the guard only after it:
  // writes made under a new guard are replayed by a call that follows it.
  if (guard_->Sets() != guardsBefore) {
    if (currentPage_ == page && !page->Actions().empty())
      Replay(page->TakeActions(), CallKind::Replay);
    return "";
  }
  // Replayed by the script as soon as we answer, before anything else runs on the page.
  return ActionsAsJson(page->TakeActions());
}

void WebKitBrowser::PutPageWorldHelper(const Completion& completion) {
  pageWorldDocument_ = documents_;
  auto tag = std::make_unique<CallTag>(
      CallTag{Ref(cancellable_.get()), this,
              TrackCall(CallKind::PageWorld, completion.generation, completion.id)});
  // No world name: the page's own, where its custom elements keep their values.
  webkit_web_view_call_async_javascript_function(view_.get(), kCustomValueScript, -1, nullptr,
                                                 nullptr, nullptr, cancellable_.get(),
                                                 &Signals::ScriptDone, tag.release());
}

void WebKitBrowser::ReadCompletion(Completion& completion) {
  completion.snapshotDone = false;
  // A page changed in place is not what its source bytes say: its text is the body as it stands.
  completion.sourceDone = !completion.withText || completion.settled;
  GVariantBuilder arguments;
  g_variant_builder_init(&arguments, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&arguments, "{sv}", "generation",
                        g_variant_new_string(std::to_string(completion.generation).c_str()));
  // Booleans cannot be passed: "" reads as false, "1" as true.
  g_variant_builder_add(&arguments, "{sv}", "withBody",
                        g_variant_new_string(completion.withText ? "1" : ""));
  auto tag = std::make_unique<CallTag>(
      CallTag{Ref(cancellable_.get()), this,
              TrackCall(CallKind::Snapshot, completion.generation, completion.id)});
  webkit_web_view_call_async_javascript_function(
      view_.get(), kSnapshotScript, -1, g_variant_builder_end(&arguments), kScriptWorld, nullptr,
      cancellable_.get(), &Signals::ScriptDone, tag.release());
  if (completion.sourceDone) return;

  // Read only after FINISHED: before that the bytes may be incomplete.
  WebKitWebResource* resource = webkit_web_view_get_main_resource(view_.get());
  if (!resource) {
    completion.sourceDone = true;
    return;
  }
  auto sourceTag = std::make_unique<CallTag>(
      CallTag{Ref(cancellable_.get()), this,
              TrackCall(CallKind::Source, completion.generation, completion.id)});
  webkit_web_resource_get_data(resource, cancellable_.get(), &Signals::SourceDone,
                               sourceTag.release());
}

WebKitBrowser::Completion* WebKitBrowser::FindCompletion(std::uint64_t id) {
  for (Completion& completion : completions_) {
    if (completion.id == id) return &completion;
  }
  return nullptr;
}

void WebKitBrowser::DeliverCompleted() {
  // The handler may navigate (clearing the queue) or run a nested main loop
  // that delivers the next pages itself: the front is looked at afresh each time.
  while (!completions_.empty() && completions_.front().snapshotDone &&
         completions_.front().sourceDone) {
    Completion& front = completions_.front();
    // A page whose load began before the last Navigate's own: never the page asked for.
    if (front.generation < deliverFrom_) {
      const std::string location = std::move(front.page.location);
      completions_.pop_front();
      if (events_) events_->PageDropped(location);
      continue;
    }
    // Read without its text when it finished, but its handler now wants the
    // text: read again while the page is still the frame's document.
    if (!front.withText && events_ && events_->WantsPageText()) {
      front.withText = true;
      if (front.document == documents_) {
        ReadCompletion(front);
        return;
      }
    }
    // A watched page read again after a load started or its document was
    // replaced is no page of its own: the new document comes as a page of its own.
    if (front.settled && (front.document != documents_ || front.generation != generation_)) {
      completions_.pop_front();
      continue;
    }
    // Held here as well, so a nested delivery cannot free the page the outer
    // handler still works on.
    auto page = std::make_shared<Page>(std::move(completions_.front().page));
    const std::uint64_t generation = completions_.front().generation;
    const std::optional<PageChange> settled = completions_.front().settled;
    completions_.pop_front();
    Deliver(page, generation, settled);
    // Tagged with the page's generation: on a document that replaced it, the
    // replay finds no snapshot of that generation and does nothing.
    if (currentPage_ == page && !page->Actions().empty())
      Replay(page->TakeActions(), CallKind::Replay);
  }
}

void WebKitBrowser::Deliver(const std::shared_ptr<Page>& page, std::uint64_t generation,
                            const std::optional<PageChange>& settled) {
  currentPage_ = page;
  currentPageGeneration_ = generation;
  currentPageDocument_ = documents_;
  sittingProbe_.emplace(options_.probeInterval, [this] { OnPageSits(); });
  if (!events_) return;
  if (settled)
    events_->PageSettled(*page, *settled);
  else
    events_->DocumentComplete(*page);
}

// Only while the delivered document is shown: a document that committed
// since is loading, and a large page may keep its process busy for a while.
void WebKitBrowser::OnPageSits() {
  sittingProbe_.reset();
  if (warmingUp_ || process_ != WebProcess::Alive || documents_ != currentPageDocument_) return;
  if (!CallOutstanding(CallKind::Sitting)) Replay({}, CallKind::Sitting);
  sittingProbe_.emplace(options_.probeInterval, [this] { OnPageSits(); });
}

void WebKitBrowser::Replay(std::vector<PageAction> actions, CallKind kind) {
  GVariantBuilder arguments;
  g_variant_builder_init(&arguments, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&arguments, "{sv}", "generation",
                        g_variant_new_string(std::to_string(currentPageGeneration_).c_str()));
  g_variant_builder_add(&arguments, "{sv}", "actions",
                        g_variant_new_string(ActionsAsJson(actions).c_str()));
  auto tag = std::make_unique<CallTag>(CallTag{
      Ref(cancellable_.get()), this,
      TrackCall(kind, currentPageGeneration_, 0,
                kind == CallKind::Sitting ? std::optional(options_.probeDeadline) : std::nullopt)});
  webkit_web_view_call_async_javascript_function(
      view_.get(), kReplayScript, -1, g_variant_builder_end(&arguments), kScriptWorld, nullptr,
      cancellable_.get(), &Signals::ScriptDone, tag.release());
}

std::uint64_t WebKitBrowser::TrackCall(CallKind kind, std::uint64_t generation,
                                       std::uint64_t completion,
                                       std::optional<std::chrono::milliseconds> deadline) {
  const std::uint64_t id = nextCallId_++;
  calls_.emplace(id, Call{kind, generation, completion,
                          TimeoutSource(deadline.value_or(options_.scriptDeadline),
                                        [this, id] { OnCallExpired(id); })});
  return id;
}

std::optional<WebKitBrowser::Call> WebKitBrowser::TakeCall(std::uint64_t id) {
  auto found = calls_.find(id);
  if (found == calls_.end()) return std::nullopt;
  std::optional<Call> call(std::move(found->second));
  calls_.erase(found);
  return call;
}

void WebKitBrowser::OnCallDone(std::uint64_t id, std::optional<std::string_view> data,
                               bool answered) {
  std::optional<Call> call = TakeCall(id);
  if (!call) return;  // expired already, or failed with its web process
  if (answered && process_ == WebProcess::Alive) answeredSinceStart_ = true;
  switch (call->kind) {
    case CallKind::Ready:
      if (process_ != WebProcess::Ending) LoadPendingUrl();
      return;
    case CallKind::Replay:
    case CallKind::Check:
    case CallKind::Sitting: return;
    case CallKind::PageWorld: {
      // Read again, now with the custom controls' values.
      Completion* completion = FindCompletion(call->completion);
      if (completion && completion->document == documents_) ReadCompletion(*completion);
      return;
    }
    case CallKind::Watch: {
      if (!WatchedPageStillShown()) return;
      const std::optional<DocumentQuiet> quiet = data ? ReadDocumentQuiet(*data) : std::nullopt;
      if (quiet) {
        if (!watch_->changesBefore) watch_->changesBefore = quiet->changes;
        watch_->changes = quiet->changes;
      }
      const bool settled = quiet && !watch_->navigating && pendingRequests_.empty() &&
                           quiet->quietMs >= options_.quietTime.count() &&
                           std::chrono::steady_clock::now() >= watch_->least;
      if (settled) {
        EndWatch();
        return;
      }
      watch_->next.emplace(options_.watchInterval, [this] { LookAtWatchedPage(); });
      return;
    }
    case CallKind::Snapshot:
    case CallKind::Source: break;
  }
  Completion* completion = FindCompletion(call->completion);
  if (!completion) return;  // dropped by a Navigate of ours
  // Both reads ask for the frame's current document; answered after the next
  // document committed, they may be of that one and are left out.
  const bool sameDocument = completion->document == documents_;
  if (call->kind == CallKind::Snapshot) {
    if (sameDocument && data) {
      if (ReadSnapshot(*data, completion->page) && pageWorldDocument_ != documents_) {
        PutPageWorldHelper(*completion);
        return;
      }
    } else if (completion->settled) {
      // A watched page that could not be read again says nothing of what it did.
      std::erase_if(completions_,
                    [id = completion->id](const Completion& each) { return each.id == id; });
      DeliverCompleted();
      return;
    }
    completion->snapshotDone = true;
  } else {
    if (data && sameDocument) completion->page.source.assign(*data);
    completion->sourceDone = true;
  }
  DeliverCompleted();
}

void WebKitBrowser::OnCallExpired(std::uint64_t id) {
  if (calls_.find(id) == calls_.end()) return;
  if (process_ != WebProcess::Alive) {
    OnCallDone(id, std::nullopt, false);
    return;
  }
  // A page in an endless script loop never answers; only a new process helps.
  // Loads wait for the process to be gone: one sent before that is lost.
  process_ = WebProcess::Ending;
  // The page it hung on: after a load was asked for, the view already shows that load's address.
  if (currentPage_ && documents_ == currentPageDocument_) hungPageUrl_ = currentPage_->location;
  terminationFallback_.emplace(options_.scriptDeadline, [this] { OnWebProcessGone(); });
  // Fails the pending calls from inside, before web-process-terminated.
  webkit_web_view_terminate_web_process(view_.get());
  OnCallDone(id, std::nullopt, false);
}

void WebKitBrowser::FailAllCalls() {
  std::vector<std::uint64_t> ids;
  for (const auto& [id, call] : calls_) ids.push_back(id);
  for (std::uint64_t id : ids) OnCallDone(id, std::nullopt, false);
}

void WebKitBrowser::GuardRequests(std::vector<OriginRule> rules) { guard_->Set(std::move(rules)); }

void WebKitBrowser::LeavePage(std::function<void()> left) {
  leaving_ = std::move(left);
  // A page that does not let go (a hung process) is ended with its process.
  leaveFallback_.emplace(options_.scriptDeadline * 2, [this] {
    webkit_web_view_terminate_web_process(view_.get());
    EndLeave();
  });
  Navigate("about:blank");
}

void WebKitBrowser::EndLeave() {
  if (!leaving_) return;
  guard_->Clear();
  leaveFallback_.reset();
  // Not from inside WebKit's signal: the caller may ask for its next page.
  leftNotice_.emplace(std::chrono::milliseconds(0),
                      [this, left = std::move(*leaving_)] { left(); });
  leaving_.reset();
}

}  // namespace veltrane
