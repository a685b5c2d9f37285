// The web view in a real browser: the built service runs a job over sites on
// 127.0.0.1 while the built `veltrane-admin serve` shows its store, and the
// project's WebKit view (under Xvfb) opens each page and reads its DOM.
#include <gtest/gtest.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "storage/stores.h"
#include "tests/support/browser_harness.h"
#include "tests/support/main_loop.h"
#include "tests/support/recording_http_server.h"
#include "tests/support/service_process.h"
#include "tests/support/test_database.h"
#include "tests/support/wait_for.h"

namespace veltrane::testing {
namespace {

constexpr const char* kHostile = "<img src=x onerror=alert(1)>";
constexpr const char* kPage = "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body>";

class WebViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BrowserHarness::Start(); }
  static void TearDownTestSuite() { BrowserHarness::Stop(); }

  void TearDown() override {
    released = true;  // a blocked site answers, so the server's thread can end
  }

  // Starts `veltrane-admin serve` on the test's store; gives its base address.
  std::string Serve() {
    server = std::make_unique<ServiceProcess>(VELTRANE_ADMIN_EXECUTABLE, serveDir.Path());
    server->SetCommand(
        {server->Executable(), "--dir", databases.Directory(), "serve", "--listen", "127.0.0.1:0"});
    server->Start();
    std::string base;
    EXPECT_TRUE(WaitFor(
        [&] {
          const std::string log = server->ErrorLog();
          const std::size_t at = log.find("serving http://127.0.0.1:");
          if (at == std::string::npos) return false;
          base = log.substr(at + 8, log.find("/ ", at) - at - 8);
          return true;
        },
        std::chrono::seconds(30)))
        << server->ErrorLog();
    return base;
  }

  // Opens `url` in the view; false when no page came.
  bool Open(const std::string& url) {
    events = std::make_unique<RecordingBrowserEvents>();
    return BrowserHarness::LoadPage(*events, url) >= 0;
  }

  // Runs `script` in a world of the test's own (the pages' policy allows no
  // script of theirs) and gives its result as text.
  static std::string Evaluate(const std::string& script) {
    struct Result {
      bool done = false;
      std::string text;
    };
    auto result = std::make_shared<Result>();
    auto* holder = new std::shared_ptr<Result>(result);
    webkit_web_view_evaluate_javascript(
        BrowserHarness::Browser().View(), script.c_str(), -1, "veltrane-web-test", nullptr, nullptr,
        [](GObject* view, GAsyncResult* answer, gpointer data) {
          std::unique_ptr<std::shared_ptr<Result>> owner(
              static_cast<std::shared_ptr<Result>*>(data));
          GError* error = nullptr;
          JSCValue* value =
              webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), answer, &error);
          if (value) {
            char* text = jsc_value_to_string(value);
            (*owner)->text = text ? text : "";
            g_free(text);
            g_object_unref(value);
          } else {
            (*owner)->text = std::string("error: ") + (error ? error->message : "");
            g_clear_error(&error);
          }
          (*owner)->done = true;
        },
        holder);
    RunMainLoopUntil([&] { return result->done; }, std::chrono::seconds(30));
    return result->text;
  }

  std::string Text(const std::string& selector) {
    return Evaluate("(() => { const e = document.querySelector('" + selector +
                    "'); return e ? e.textContent : '(none)'; })()");
  }
  int Count(const std::string& selector) {
    return std::stoi(Evaluate("document.querySelectorAll('" + selector + "').length"));
  }

  void AddSite(const std::string& name, const std::string& path, const std::string& script) {
    databases.Subscription("INSERT INTO subscription (name,url,submission_data) VALUES ('" + name +
                           "','" + sites.Url(path) + "','" + script + "')");
  }

  TestDatabases databases;
  TempDir serveDir;
  RecordingHttpServer sites;
  std::unique_ptr<ServiceProcess> server;
  std::unique_ptr<RecordingBrowserEvents> events;
  std::atomic<bool> released{false};
};

// The width and height a PNG's header gives.
std::pair<int, int> PngSize(const std::string& path) {
  std::ifstream png(path, std::ios::binary);
  unsigned char header[24] = {};
  png.read(reinterpret_cast<char*>(header), sizeof header);
  const auto big = [&](int at) {
    return header[at] << 24 | header[at + 1] << 16 | header[at + 2] << 8 | header[at + 3];
  };
  return {big(16), big(20)};
}

TEST_F(WebViewTest, PagesFollowAJobAndShowItsEvidence) {
  sites.Serve("/alpha/", std::string(kPage) + "<p>Thanks</p></body></html>");
  // beta holds its answer until the test has looked at the overview.
  sites.Handle("/beta/", [this](const httplib::Request&, httplib::Response& response) {
    for (int i = 0; i < 1200 && !released; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    response.set_content(std::string(kPage) + "<p>Submissions are closed</p></body></html>",
                         "text/html; charset=utf-8");
  });
  sites.Serve("/gamma/", std::string(kPage) + "<p>Nothing here</p></body></html>");
  const std::string script = "[STEP1]\nAPP-SuccessString=Thanks\n";
  AddSite("alpha", "/alpha/", script);
  AddSite("beta", "/beta/", script);
  AddSite(kHostile, "/gamma/", script);
  databases.Main(
      "INSERT INTO pressrelease (name,headline) VALUES ('Launch','News');"
      "INSERT INTO schedule (id,name,subscription,frequency,time,next) VALUES "
      "(1,'Launch','alpha\r\nbeta\r\n" +
      std::string(kHostile) + "',1,0,1)");

  ServiceProcess service(VELTRANE_BINARY, databases.Directory());
  service.Start({{"VELTRANE_POLL_INTERVAL_MS", "1000"}});
  const std::string base = Serve();
  ASSERT_FALSE(base.empty());

  // During the job: the instance is on site 2 of 3, and the page reloads itself.
  std::string state;
  ASSERT_TRUE(WaitFor(
      [&] {
        if (!Open(base + "/")) return false;
        state = Text("#instances .state");
        return state.find("site 2 of 3") != std::string::npos;
      },
      std::chrono::seconds(90)))
      << state << "\n"
      << service.ErrorLog();
  EXPECT_NE(std::string::npos, state.find("in a job: release Launch, site 2 of 3: beta")) << state;
  EXPECT_EQ(1, Count("meta[http-equiv=refresh]"));

  released = true;
  ASSERT_TRUE(WaitFor([&] { return databases.MainScalar("SELECT count(*) FROM history") == "1"; },
                      std::chrono::seconds(120)))
      << service.ErrorLog();
  const std::string id = databases.MainScalar("SELECT id FROM history");

  // After it: the job is listed with its status and counts; no more reloading.
  ASSERT_TRUE(WaitFor(
      [&] {
        return Open(base + "/") && Text("#instances .state").find("in a job") == std::string::npos;
      },
      std::chrono::seconds(60)));
  EXPECT_EQ(0, Count("meta[http-equiv=refresh]"));
  EXPECT_EQ("Partial", Text("#last-jobs tr.job .status"));
  EXPECT_EQ("1", Evaluate("document.querySelector('#last-jobs tr.job').cells[4].textContent"));
  EXPECT_EQ("2", Evaluate("document.querySelector('#last-jobs tr.job').cells[5].textContent"));

  // The job's page: the report as written and each site's evidence, beta's
  // failure screenshot loaded at the size of the file.
  ASSERT_TRUE(Open(base + "/job?id=" + id));
  EXPECT_NE(std::string::npos, Text("#report").find("Complete submission : ")) << Text("#report");
  EXPECT_EQ(3, Count("section.site"));
  EXPECT_EQ("failed", Text("#site-1 .outcome"));
  EXPECT_EQ(sites.Url("/beta/"), Text("#site-1 .last-url"));
  EXPECT_NE(std::string::npos, Text("#site-1").find("HTTP status200")) << Text("#site-1");
  EXPECT_NE(std::string::npos, Text("#site-1").find("\"Thanks\" looked for, not found"));
  const auto history = MakeHistoryStore(databases.Paths());
  const std::string shot = databases.Directory() + "/shots/" +
                           history->JobSites(std::stoll(id))[1].record.evidence.screenshot;
  ASSERT_TRUE(std::filesystem::is_regular_file(shot)) << shot;
  const auto [width, height] = PngSize(shot);
  EXPECT_GT(width, 100);
  ASSERT_TRUE(RunMainLoopUntil(
      [&] { return Evaluate("document.querySelector('#site-1 img.shot').complete") == "true"; }));
  EXPECT_EQ(std::to_string(width) + "x" + std::to_string(height),
            Evaluate("(() => { const i = document.querySelector('#site-1 img.shot'); "
                     "return i.naturalWidth + 'x' + i.naturalHeight; })()"));
  // The hostile name is text, never an element.
  EXPECT_EQ(0, Count("img[src=x]"));
  EXPECT_NE(std::string::npos, Text("#site-2 h2").find(kHostile)) << Text("#site-2 h2");

  // A site's page: its strip (newest right), chart, last screenshot and script.
  ASSERT_TRUE(Open(base + "/site?name=beta"));
  EXPECT_EQ(1, Count("#strip rect.failed"));
  EXPECT_NE(std::string::npos, Text("#strip rect title").find("Launch: failed ("))
      << Text("#strip");
  EXPECT_EQ(1, Count("#chart circle.rate"));
  const std::string point = Text("#chart circle title");
  EXPECT_NE(std::string::npos, point.find(": 0 of 1 completed (0%)")) << point;
  EXPECT_EQ("not in its last 1 outcome", Text("#last-completed"));
  EXPECT_EQ(std::to_string(width),
            Evaluate("String(document.querySelector('img.shot').naturalWidth)"));
  EXPECT_EQ(script, Text("#script"));

  // The grid: three sites, one completed and two failed cells; the filter
  // keeps the failing ones, and the sort puts them first.
  ASSERT_TRUE(Open(base + "/grid"));
  EXPECT_EQ("3", Text("#row-count"));
  EXPECT_EQ(1, Count("#grid rect.completed"));
  EXPECT_EQ(2, Count("#grid rect.failed"));
  EXPECT_EQ(
      "/job?id=" + id + "#site-1",
      Evaluate(
          "document.querySelectorAll('#grid rect.failed')[1].parentNode.getAttribute('href')"));
  ASSERT_TRUE(Open(base + "/grid?sort=failures"));
  EXPECT_EQ("alpha",
            Evaluate("document.querySelectorAll('#grid text.site')[2].firstChild.textContent"));
  // The filter is a link of the page.
  const std::string filter = Evaluate("document.querySelector('#filter').href");
  EXPECT_EQ(base + "/grid?jobs=20&sort=failures&failing=1", filter);
  ASSERT_TRUE(Open(filter));
  EXPECT_EQ("2", Text("#row-count"));
  EXPECT_EQ(0, Count("#grid rect.completed"));
  EXPECT_EQ(0, Count("img[src=x]"));
  service.Kill();
}

}  // namespace
}  // namespace veltrane::testing
