// Browser test support: one WebKitBrowser in a shown window (under Xvfb), and
// a BrowserEvents that records every event and lets a test act on it. The
// window and control live from BrowserHarness::Start to BrowserHarness::Stop,
// normally one test suite; user-interface thread only.
#pragma once

#include <gtk/gtk.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "browser/webkit_browser.h"

namespace veltrane::testing {

class RecordingBrowserEvents : public BrowserEvents {
 public:
  void DocumentComplete(Page& page) override;
  void BeforeNavigate2(const std::string& url, bool& cancel) override;
  void NewWindow2(const std::string& url, bool& cancel) override;
  void PrintRefused(const std::string& url) override { printRequests.push_back(url); }
  void DownloadRefused(const std::string& url, bool requested) override {
    refusedDownloads.emplace_back(url, requested);
  }
  void NavigateError(const std::string& url, std::int32_t statusCode, const std::string& message,
                     bool& cancel) override;
  void ProgressChange(int, int) override { ++progressChanges; }
  bool WantsPageText() override {
    ++pageTextQuestions;
    return wantsPageText ? wantsPageText() : true;
  }

  // Copies of the delivered pages, taken after onDocumentComplete ran.
  std::vector<Page> pages;
  std::vector<std::string> navigations;  // BeforeNavigate2 addresses
  int newWindows = 0;
  std::vector<std::string> newWindowAddresses;
  std::vector<std::string> printRequests;
  std::vector<std::pair<std::string, bool>> refusedDownloads;  // with `requested`
  std::vector<std::pair<std::string, std::int32_t>> errors;
  int progressChanges = 0;
  int pageTextQuestions = 0;

  std::function<void(Page&)> onDocumentComplete;
  std::function<void(const std::string&, bool&)> onBeforeNavigate;
  std::function<void(const std::string&, bool&)> onNewWindow;
  std::function<void(const std::string&, std::int32_t, const std::string&, bool&)> onNavigateError;
  std::function<bool()> wantsPageText;  // unset: the text is always wanted

  // The index of the first delivered page whose location starts with `url`, or -1.
  int PageAt(const std::string& url) const;
  bool HasError(const std::string& url, std::int32_t statusCode) const;
  bool HasErrorCode(std::int32_t statusCode) const;
};

class BrowserHarness {
 public:
  static void Start(std::chrono::milliseconds scriptDeadline = std::chrono::seconds(15));
  static void Stop();
  static WebKitBrowser& Browser();

  // Navigates and runs the main loop until a page at `url` is delivered;
  // gives its index in events.pages, or -1 when none came.
  static int LoadPage(RecordingBrowserEvents& events, const std::string& url);
};

}  // namespace veltrane::testing
