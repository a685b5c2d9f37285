// BrowserControl: the HTML browser that the browser window hosts as `Browser`.
// Navigate returns at once; what follows arrives through BrowserEvents on the
// user-interface thread: BeforeNavigate2 before each navigation (top-level and
// frames; cancel refuses it), NewWindow2 per pop-up request with the address
// it asked for (no window is ever opened), PrintRefused per print request of a
// page (nothing is ever printed), DownloadRefused per response that would have
// been saved as a file (nothing is ever downloaded), NavigateError per failed
// navigation (network failure or HTTP status 400 and above), NavigateComplete2
// when a new top-level document has taken the place of the last one, and
// DocumentComplete once per completed top-level page, in the order the pages
// completed, with its model ready (a page that another replaced before it
// could be read comes with what was read of it); a page is read once the
// requests its load started (its scripts' fetch and XHR) have been answered,
// within a short bound, so what they bring is in it; SubmitDisabled when a
// replayed click finds its control disabled for good. A refused download leaves the
// page before it current, as if that navigation had not happened; when it was
// the load a Navigate asked for, that page is read again and delivered, so a
// caller waiting for a page goes on at once. A page whose load began before
// the last Navigate's own is never delivered: PageDropped tells of it. Writes a handler records on
// that Page are carried out on the live page when the handler returns, or before a Navigate it asks
// for, and never on a later document; a form clicked or submitted that way is sent in this browser
// whatever its target. A handler of BeforeNavigate2 may ask for a Navigate of its own: it starts
// once the navigation asked about has been refused (it replaces that one either way).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "browser/page.h"
#include "browser/request_rules.h"

namespace veltrane {

// What a watched page did while it was watched (BrowserControl::WatchPage).
struct PageChange {
  bool requestsSent = false;     // it loaded something: fetch, XHR, a frame, a resource
  bool documentChanged = false;  // its document changed
  bool Any() const { return requestsSent || documentChanged; }
};

class BrowserEvents {
 public:
  virtual ~BrowserEvents() = default;
  virtual void DocumentComplete(Page& page) = 0;
  virtual void BeforeNavigate2(const std::string& url, bool& cancel) = 0;
  // `url` is the address the new window would have loaded ("" when unknown).
  virtual void NewWindow2(const std::string& url, bool& cancel) = 0;
  // The page at `url` asked to print (window.print()); it was refused.
  virtual void PrintRefused(const std::string& url) = 0;
  // The response at `url` would have been saved as a file; it was refused and
  // nothing was written. `requested`: it answered the load a Navigate asked
  // for, and the page still shown follows through DocumentComplete.
  virtual void DownloadRefused(const std::string& /*url*/, bool /*requested*/) {}
  // cancel true: the browser shows no error page of its own for a network failure.
  // `message` is the engine's own text of a network failure ("" for an HTTP status).
  virtual void NavigateError(const std::string& url, std::int32_t statusCode,
                             const std::string& message, bool& cancel) = 0;
  virtual void ProgressChange(int progress, int progressMax) = 0;
  // A new top-level document at `url` has been committed: from here on,
  // requests of the view belong to that document, not to the one before.
  virtual void NavigateComplete2(const std::string& /*url*/) {}
  // A control a replayed click was to send a form with, on the page at `url`,
  // stayed disabled after the form was filled: nothing was clicked.
  virtual void SubmitDisabled(const std::string& /*url*/) {}
  // A page at `url` completed after a Navigate, from a load that began before
  // it (the page left, or one it loaded by itself); it is not delivered.
  virtual void PageDropped(const std::string& /*url*/) {}
  // The page WatchPage watched has settled without a top-level load: here it
  // is read again, as it stands, with what it did meanwhile.
  virtual void PageSettled(Page& /*page*/, const PageChange& /*change*/) {}
  // Asked when a completed page is about to be read, and again before it is
  // delivered: whether DocumentComplete needs the page's text (source bytes
  // and the body's outer HTML) besides its forms and links. Reading the text
  // of a large page is costly; without it both stay empty, and the page may be
  // delivered as soon as its load handlers have run, before it counts as loaded.
  virtual bool WantsPageText() { return true; }
  // While requests are guarded (GuardRequests): a request of the page to
  // `host` was refused before it was sent.
  virtual void RequestRefused(const std::string& /*host*/) {}
  // The guard GuardRequests asked for does not hold (see RequestGuard).
  virtual void RequestGuardUnconfirmed() {}
};

class BrowserControl {
 public:
  virtual ~BrowserControl() = default;
  // The handlers of every later event; nullptr sends events nowhere.
  virtual void SetEvents(BrowserEvents* events) = 0;
  // Starts loading `url` as the top-level page; a later Navigate replaces an
  // earlier one that has not started yet. Pages completed before the call but
  // not yet delivered are dropped: the caller has moved on from them. From the
  // call on, only the page of the load it asks for, and the pages that page
  // goes on to by itself, are delivered: a page whose load began before that
  // load (a late completion of an older page) is dropped.
  virtual void Navigate(const std::string& url) = 0;
  // The address of the top-level page (the failing address after a network error).
  virtual std::string LocationURL() const = 0;
  // Watches the page delivered last, while it stays the document shown: once
  // the requests it sends have been answered and its document has been quiet
  // for a moment, but not before `least` has passed, or at `bound` whatever it
  // does, it is read again and handed to PageSettled. A top-level load that
  // starts, a Navigate or a later WatchPage ends the watch without it.
  virtual void WatchPage(std::chrono::milliseconds /*least*/, std::chrono::milliseconds /*bound*/) {
  }
  // From now on every request of the view to an origin none of `rules`
  // takes is refused before it is sent, whatever sends it (the page, its
  // frames, its scripts, CSS, a navigation); until LeavePage has left the page.
  virtual void GuardRequests(std::vector<OriginRule> /*rules*/) {}
  // Leaves the page for a blank one, so that nothing of it runs later; once
  // it is gone, the guard ends and `left` runs (on a later turn of the loop).
  virtual void LeavePage(std::function<void()> left) { left(); }
};

// NavigateError status codes for failures without an HTTP status: the classic
// negative binding-error numbers, so traces read like any browser's.
namespace navigate_status {
inline constexpr std::int32_t kCannotConnect = static_cast<std::int32_t>(0x800C0004u);
inline constexpr std::int32_t kNameNotResolved = static_cast<std::int32_t>(0x800C0005u);
inline constexpr std::int32_t kDownloadFailure = static_cast<std::int32_t>(0x800C0008u);
inline constexpr std::int32_t kConnectionTimeout = static_cast<std::int32_t>(0x800C000Bu);
inline constexpr std::int32_t kPageEnded = static_cast<std::int32_t>(0x800C0018u);
inline constexpr std::int32_t kInvalidCertificate = static_cast<std::int32_t>(0x800C0019u);
}  // namespace navigate_status

}  // namespace veltrane
