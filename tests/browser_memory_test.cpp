// The web process does not grow with the pages it has read: page after page
// of forms, lists and links, each read by the control, leaves its resident
// memory about where it was. Reading pages used to keep each page's memory for
// good (some 90 KB a page here); without our scripts WebKit itself keeps
// about 10 KB a page.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/browser_harness.h"
#include "tests/support/recording_http_server.h"

namespace veltrane::testing {
namespace {

// The resident kilobytes of this process's web processes.
long WebProcessKb() {
  long kb = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream statFile(entry.path() / "stat");
    std::string stat;
    if (!std::getline(statFile, stat)) continue;
    const auto open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent != getpid() || stat.compare(open + 1, 15, "WebKitWebProces") != 0) continue;
    std::ifstream statm(entry.path() / "statm");
    long size = 0, resident = 0;
    if (statm >> size >> resident) kb += resident * (sysconf(_SC_PAGESIZE) / 1024);
  }
  return kb;
}

std::string FormPage() {
  std::string options;
  for (int i = 0; i < 40; ++i)
    options += "<option value='" + std::to_string(i) + "'>Topic " + std::to_string(i) + "</option>";
  return "<html><body><form action='login' method='post'><input name='user'>"
         "<input type='password' name='pass'><input type='submit'></form>"
         "<form action='post' method='post'><input name='headline'><textarea name='body'>"
         "</textarea><select name='country'>" +
         options + "</select><select name='category'>" + options +
         "</select><input type='image' src='data:,'></form>"
         "<a href='help'>help</a><a href='news'>news</a><a "
         "href='contact'>contact</a></body></html>";
}

TEST(BrowserMemory, ReadingPageAfterPageLeavesTheWebProcessWhereItWas) {
  BrowserHarness::Start();
  RecordingHttpServer server;
  server.Serve("/page", FormPage());
  RecordingBrowserEvents events;
  constexpr int kWarmUp = 50, kPages = 650;
  long before = 0;
  for (int page = 0; page < kPages; ++page) {
    const std::string url = server.Url("/page?n=" + std::to_string(page));
    ASSERT_GE(BrowserHarness::LoadPage(events, url), 0) << url;
    ASSERT_EQ(2u, events.pages.back().forms.size()) << url;
    events.pages.clear();
    if (page == kWarmUp) before = WebProcessKb();
  }
  const long after = WebProcessKb();
  BrowserHarness::Stop();
  ASSERT_GT(before, 0);
  const long perPage = (after - before) / (kPages - kWarmUp);
  EXPECT_LT(perPage, 40) << before << " KB after " << kWarmUp << " pages, " << after << " KB after "
                         << kPages;
}

}  // namespace
}  // namespace veltrane::testing
