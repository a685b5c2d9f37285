// The WebKit control's events and its unattended behaviour, with the browser
// window's navigation guards as handlers: media and pop-ups refused, dialogs
// answered, errors reported, hung and killed web processes recovered, TLS
// certificate errors failing the load.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "engine/navigation_guards.h"
#include "tests/support/browser_harness.h"
#include "tests/support/main_loop.h"
#include "tests/support/recording_http_server.h"
#include "tests/support/secret_search.h"
#include "tests/support/temp_dir.h"

namespace veltrane::testing {
namespace {

constexpr char kSentinel[] = "<html><body>sentinel</body></html>";

class BrowserEventsTest : public ::testing::Test {
 protected:
  // A short script deadline keeps the hung-page cases quick.
  static void SetUpTestSuite() { BrowserHarness::Start(std::chrono::seconds(2)); }
  static void TearDownTestSuite() { BrowserHarness::Stop(); }

  void SetUp() override {
    events.onBeforeNavigate = [this](const std::string& url, bool& cancel) {
      BrowserBeforeNavigate2(panel, trace, url, cancel);
    };
    events.onNewWindow = [this](const std::string& url, bool& cancel) {
      BrowserNewWindow2(trace, url, cancel);
    };
    events.onNavigateError = [this](const std::string& url, std::int32_t code,
                                    const std::string& message, bool& cancel) {
      BrowserNavigateError(trace, url, code, message, cancel);
    };
    server.Serve("/sentinel", kSentinel);
  }
  void TearDown() override { BrowserHarness::Browser().SetEvents(nullptr); }

  bool Requested(const std::string& path) const { return !server.RequestsTo(path).empty(); }
  bool Navigated(const std::string& url) const {
    return std::find(events.navigations.begin(), events.navigations.end(), url) !=
           events.navigations.end();
  }
  // Loads a page after everything before it has settled.
  bool LoadSentinel() { return BrowserHarness::LoadPage(events, server.Url("/sentinel")) >= 0; }

  RecordingHttpServer server;
  RecordingBrowserEvents events;
  RecordingLoadingIndicator panel;
  RecordingTrace trace;
};

TEST_F(BrowserEventsTest, MediaAddressesNeverReachTheServer) {
  server.Serve(
      "/mover",
      "<html><body><script>addEventListener('load', () =>"
      " setTimeout(() => { location.href = '/pic.PNG?x=1'; }, 0));</script></body></html>");
  BrowserHarness::Browser().SetEvents(&events);
  for (const std::string path : {"/photo.JPG", "/show?img=logo.gif"}) {
    BrowserHarness::Browser().Navigate(server.Url(path));
    EXPECT_TRUE(RunMainLoopUntil([&] { return Navigated(server.Url(path)); })) << path;
  }
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/mover")), 0);
  EXPECT_TRUE(RunMainLoopUntil([&] { return Navigated(server.Url("/pic.PNG?x=1")); }));
  ASSERT_TRUE(LoadSentinel());

  EXPECT_FALSE(Requested("/photo.JPG"));
  EXPECT_FALSE(Requested("/show"));
  EXPECT_FALSE(Requested("/pic.PNG"));
  EXPECT_TRUE(panel.shown);
}

// Pop-ups of page scripts; forms we submit are steered into the page (page tests).
TEST_F(BrowserEventsTest, PopUpsOpenNothingAndSendNothing) {
  server.Serve("/popups",
               "<html><body><a id='l' target='_blank' href='/popup-link'>l</a>"
               "<script>addEventListener('load', () => { window.open('/popup-open');"
               " document.getElementById('l').click(); });</script></body></html>");
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/popups")), 0);
  EXPECT_TRUE(RunMainLoopUntil([&] { return events.newWindows >= 2; })) << events.newWindows;
  ASSERT_TRUE(LoadSentinel());

  std::vector<std::string> addresses = events.newWindowAddresses;
  std::sort(addresses.begin(), addresses.end());
  EXPECT_EQ((std::vector<std::string>{server.Url("/popup-link"), server.Url("/popup-open")}),
            addresses);
  EXPECT_EQ((std::vector<std::string>{"New window refused: " + server.Url("/popup-link"),
                                      "New window refused: " + server.Url("/popup-open")}),
            [&] {
              std::vector<std::string> lines = trace.lines;
              std::sort(lines.begin(), lines.end());
              return lines;
            }());
  for (const char* path : {"/popup-link", "/popup-open"}) {
    EXPECT_FALSE(Requested(path)) << path;
  }
}

// Downloads, with the home and user folders of WebKit's processes in a folder
// of the test's own, where a download let through would land.
class BrowserDownloadsTest : public BrowserEventsTest {
 protected:
  static void SetUpTestSuite() {
    home = std::make_unique<TempDir>();
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
      g_setenv(name, home->Path().c_str(), TRUE);
    BrowserEventsTest::SetUpTestSuite();
  }
  // Kept to the end of the process, whose helpers may still write there.
  static inline std::unique_ptr<TempDir> home;
};

TEST_F(BrowserDownloadsTest, DownloadsAreRefusedAndTheShownPageStaysCurrent) {
  const std::string content = "echo downloaded-4d1c";
  const auto file = [&](const std::string& type, const std::string& disposition) {
    return [=](const httplib::Request&, httplib::Response& response) {
      if (!disposition.empty()) response.set_header("Content-Disposition", disposition);
      response.set_content(content, type);
    };
  };
  // A type the view shows, but as an attachment; a type it cannot show; a link to save.
  server.Handle("/install.sh", file("text/plain", "attachment; filename=install.sh"));
  server.Handle("/data.bin", file("application/octet-stream", ""));
  server.Handle("/notes.txt", file("text/plain", ""));
  server.Serve("/links", "<html><body>links page</body></html>");
  server.Serve("/mover",
               "<html><body><script>addEventListener('load', () =>"
               " setTimeout(() => { location.href = '/data.bin'; }, 0));</script></body></html>");
  server.Serve("/saver",
               "<html><body><a id='d' download href='/notes.txt'>n</a><script>"
               "addEventListener('load', () => document.getElementById('d').click());"
               "</script></body></html>");

  // A load asked for: the page still shown is delivered again at once.
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/links")), 0);
  BrowserHarness::Browser().Navigate(server.Url("/install.sh"));
  ASSERT_TRUE(RunMainLoopUntil([&] { return events.pages.size() == 2; }));
  EXPECT_NE(std::string::npos, events.pages[1].bodyOuterHtml.find("links page"));
  EXPECT_EQ(server.Url("/links"), BrowserHarness::Browser().LocationURL());
  // A page that sends itself to a download, or saves a link, stays as it was.
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/mover")), 0);
  ASSERT_TRUE(RunMainLoopUntil([&] { return events.refusedDownloads.size() == 2; }));
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/saver")), 0);
  ASSERT_TRUE(RunMainLoopUntil([&] { return events.refusedDownloads.size() == 3; }));
  ASSERT_TRUE(LoadSentinel());

  EXPECT_EQ((std::vector<std::pair<std::string, bool>>{{server.Url("/install.sh"), true},
                                                       {server.Url("/data.bin"), false},
                                                       {server.Url("/notes.txt"), false}}),
            events.refusedDownloads);
  std::vector<std::string> delivered;
  for (const Page& page : events.pages) delivered.push_back(page.location);
  EXPECT_EQ(
      (std::vector<std::string>{server.Url("/links"), server.Url("/links"), server.Url("/mover"),
                                server.Url("/saver"), server.Url("/sentinel")}),
      delivered);
  EXPECT_TRUE(events.errors.empty()) << events.errors.front().first;
  EXPECT_EQ(std::vector<SecretFound>{}, FilesHolding(home->Path(), {content}));
}

// Counts GTK dialogs shown in this process, and cancels each at once so a
// modal one cannot hold the test.
class DialogWatch {
 public:
  DialogWatch()
      : signal_(g_signal_lookup("show", GTK_TYPE_WIDGET)),
        hook_(g_signal_add_emission_hook(signal_, 0, &DialogWatch::Shown, this, nullptr)) {}
  ~DialogWatch() { g_signal_remove_emission_hook(signal_, hook_); }
  int shown = 0;

 private:
  static gboolean Shown(GSignalInvocationHint*, guint, const GValue* values, gpointer data) {
    GObject* widget = G_OBJECT(g_value_get_object(&values[0]));
    if (!GTK_IS_DIALOG(widget)) return TRUE;
    ++static_cast<DialogWatch*>(data)->shown;
    // Answered from the dialog's own loop, which starts after it is shown.
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer dialog) -> gboolean {
          gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
          return G_SOURCE_REMOVE;
        },
        g_object_ref(widget), g_object_unref);
    return TRUE;
  }
  guint signal_;
  gulong hook_;
};

TEST_F(BrowserEventsTest, PrintIsRefusedWithoutADialogAndThePageGoesOn) {
  DialogWatch dialogs;
  server.Serve("/print",
               "<html><body><script>addEventListener('load', () => { window.print();"
               " document.body.setAttribute('data-after', 'printed'); });</script></body></html>");
  const int index = BrowserHarness::LoadPage(events, server.Url("/print"));
  ASSERT_GE(index, 0);
  EXPECT_EQ(std::vector<std::string>{server.Url("/print")}, events.printRequests);
  EXPECT_EQ(0, dialogs.shown);
  EXPECT_NE(std::string::npos, events.pages[static_cast<std::size_t>(index)].bodyOuterHtml.find(
                                   "data-after=\"printed\""));
}

TEST_F(BrowserEventsTest, ScriptDialogsAreAnsweredAndThePageCompletes) {
  server.Serve(
      "/dialogs",
      "<html><body><script>"
      "addEventListener('beforeunload', (e) => { e.preventDefault(); e.returnValue = 'x'; });"
      "addEventListener('load', () => { alert('hello'); const c = confirm('sure?');"
      " const p = prompt('name', 'dflt');"
      " document.body.setAttribute('data-answers', c + ',' + p); });"
      "</script></body></html>");
  const int index = BrowserHarness::LoadPage(events, server.Url("/dialogs"));
  ASSERT_GE(index, 0);
  EXPECT_NE(std::string::npos, events.pages[static_cast<std::size_t>(index)].bodyOuterHtml.find(
                                   "data-answers=\"true,dflt\""));
  // Leaving a page that asks to stay is not held up.
  EXPECT_TRUE(LoadSentinel());
}

TEST_F(BrowserEventsTest, RefusedConnectionIsReportedAndTheErrorPageDelivered) {
  std::string closed;
  {
    RecordingHttpServer gone;
    closed = gone.Url("/nothing");
  }
  const int index = BrowserHarness::LoadPage(events, closed);
  ASSERT_GE(index, 0);
  EXPECT_TRUE(events.HasError(closed, navigate_status::kCannotConnect)) << events.errors.size();
  EXPECT_EQ(closed, BrowserHarness::Browser().LocationURL());
  const auto line = std::find(trace.lines.begin(), trace.lines.end(),
                              "Error while navigate " + closed + " code:-2146697212");
  ASSERT_NE(trace.lines.end(), line);
  // The engine's own message follows on a line of its own.
  ASSERT_NE(trace.lines.end(), line + 1);
  EXPECT_TRUE(line[1].starts_with("Network error: ")) << line[1];
  EXPECT_NE(std::string::npos, line[1].find("Connection refused")) << line[1];
}

// WebKit's error page is already on its way when the handler asks for the next page.
TEST_F(BrowserEventsTest, NavigateAskedOnAnErrorIsNotLostToTheErrorPage) {
  std::string closed;
  {
    RecordingHttpServer gone;
    closed = gone.Url("/nothing");
  }
  events.onNavigateError = [&](const std::string& url, std::int32_t code,
                               const std::string& message, bool& cancel) {
    BrowserNavigateError(trace, url, code, message, cancel);
    BrowserHarness::Browser().Navigate(server.Url("/sentinel"));
  };
  BrowserHarness::Browser().SetEvents(&events);
  BrowserHarness::Browser().Navigate(closed);
  ASSERT_TRUE(RunMainLoopUntil([&] { return events.PageAt(server.Url("/sentinel")) >= 0; }));
  EXPECT_EQ(-1, events.PageAt(closed));
  EXPECT_EQ(2u, trace.lines.size());  // the error and its message, once
}

// A redirect is asked about like any navigation; a handler that refuses it
// and asks for another page gets that page, and the refused one is never sent.
TEST_F(BrowserEventsTest, NavigateAskedWhileRefusingARedirectLoadsAfterTheRefusal) {
  server.Handle("/hop", [](const httplib::Request&, httplib::Response& response) {
    response.status = 307;
    response.set_header("Location", "/away");
  });
  events.onBeforeNavigate = [&](const std::string& url, bool& cancel) {
    if (url != server.Url("/away")) return;
    cancel = true;
    BrowserHarness::Browser().Navigate(server.Url("/sentinel"));
  };
  BrowserHarness::Browser().SetEvents(&events);
  BrowserHarness::Browser().Navigate(server.Url("/hop"));
  ASSERT_TRUE(RunMainLoopUntil([&] { return events.PageAt(server.Url("/sentinel")) >= 0; }));
  EXPECT_TRUE(Requested("/hop"));
  EXPECT_FALSE(Requested("/away"));
  EXPECT_EQ(server.Url("/sentinel"), events.pages.front().location);
}

TEST_F(BrowserEventsTest, HttpErrorStatusIsReportedAndTheServersPageDelivered) {
  server.Serve("/missing", "<html><body>gone away</body></html>", "text/html", 404);
  const int index = BrowserHarness::LoadPage(events, server.Url("/missing"));
  ASSERT_GE(index, 0);
  EXPECT_TRUE(events.HasError(server.Url("/missing"), 404));
  EXPECT_NE(std::string::npos,
            events.pages[static_cast<std::size_t>(index)].bodyOuterHtml.find("gone away"));
}

// The load a new Navigate replaces reports its end from inside that call; it
// must not come out as a completion of the new page.
TEST_F(BrowserEventsTest, ReplacedLoadIsNeitherCompletedNorAnError) {
  server.ServeStalled("/slow", "<html><body>slow");
  server.Serve("/fast", "<html><body>fast</body></html>");
  BrowserHarness::Browser().SetEvents(&events);
  BrowserHarness::Browser().Navigate(server.Url("/slow"));
  ASSERT_TRUE(RunMainLoopUntil([&] { return Requested("/slow"); }));
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/fast")), 0);
  ASSERT_TRUE(LoadSentinel());

  ASSERT_EQ(2u, events.pages.size());
  EXPECT_EQ(server.Url("/fast"), events.pages[0].location);
  EXPECT_TRUE(events.errors.empty()) << events.errors.front().first;
}

// A page still loading when the next Navigate is asked for finishes late; it
// must not come out as the page asked for, read as a whole or at its pageshow.
TEST_F(BrowserEventsTest, PageOfAnOlderLoadIsNeverDeliveredAfterANavigate) {
  for (const bool withText : {false, true}) {
    SCOPED_TRACE(withText ? "read at finish" : "read at pageshow");
    RecordingBrowserEvents pages;
    pages.wantsPageText = [withText] { return withText; };
    const std::string tag = withText ? "text" : "show";
    server.Serve("/" + tag + "/old", "<html><body><a href='/old-link'>old</a><img src='/" + tag +
                                         "/img'></body></html>");
    server.ServeStalled("/" + tag + "/img", "");
    server.Handle("/" + tag + "/new", [](const httplib::Request&, httplib::Response& response) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      response.set_content("<html><body><a href='/new-link'>new</a></body></html>", "text/html");
    });
    BrowserHarness::Browser().SetEvents(&pages);
    BrowserHarness::Browser().Navigate(server.Url("/" + tag + "/old"));
    ASSERT_TRUE(RunMainLoopUntil([&] { return Requested("/" + tag + "/img"); }));
    ASSERT_GE(BrowserHarness::LoadPage(pages, server.Url("/" + tag + "/new")), 0);

    for (const Page& page : pages.pages)
      EXPECT_EQ(std::vector<std::string>{server.Url("/new-link")}, page.links) << page.location;
  }
}

// The script loop starts right after a synchronous request the server sees.
TEST_F(BrowserEventsTest, PageInEndlessScriptLoopIsEndedAndTheNextNavigateLoads) {
  server.Serve("/looping", "");
  server.Serve("/loop",
               "<html><body><p>looping</p><script>const x = new XMLHttpRequest();"
               " x.open('GET', '/looping', false); x.send(); for (;;) {}</script></body></html>");
  server.Serve("/after", "<html><body>after the loop</body></html>");
  BrowserHarness::Browser().SetEvents(&events);
  BrowserHarness::Browser().Navigate(server.Url("/loop"));
  ASSERT_TRUE(RunMainLoopUntil([&] { return Requested("/looping"); }));

  const int index = BrowserHarness::LoadPage(events, server.Url("/after"));
  ASSERT_GE(index, 0);
  EXPECT_TRUE(events.HasErrorCode(navigate_status::kPageEnded));
  EXPECT_EQ(-1, events.PageAt(server.Url("/loop")));
  EXPECT_NE(std::string::npos,
            events.pages[static_cast<std::size_t>(index)].bodyOuterHtml.find("after the loop"));
}

// The page was read and answered in time, then hangs while it sits: the probe
// of a sitting page finds it, and it is reported at its own address, not at
// the address of the load that could not start in it.
TEST_F(BrowserEventsTest, PageThatHangsAfterItWasReadIsEndedWhenTheNextLoadDoesNotStart) {
  server.Serve("/hanging", "");
  server.Serve("/hang-later",
               "<html><body><p>read first</p><script>addEventListener('load', () => "
               "setTimeout(() => { const x = new XMLHttpRequest(); x.open('GET', '/hanging', "
               "false); x.send(); for (;;) {} }, 100));</script></body></html>");
  server.Serve("/after-hang", "<html><body>after the hang</body></html>");
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/hang-later")), 0);
  ASSERT_TRUE(RunMainLoopUntil([&] { return Requested("/hanging"); }));

  const int index = BrowserHarness::LoadPage(events, server.Url("/after-hang"));
  ASSERT_GE(index, 0);
  const std::vector<std::pair<std::string, std::int32_t>> ended = {
      {server.Url("/hang-later"), navigate_status::kPageEnded}};
  EXPECT_EQ(ended, events.errors);
  EXPECT_NE(std::string::npos,
            events.pages[static_cast<std::size_t>(index)].bodyOuterHtml.find("after the hang"));
}

// Web processes are children of this test process; ours to end.
std::vector<pid_t> WebProcessesOfThisProcess() {
  std::vector<pid_t> pids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream statFile(entry.path() / "stat");
    std::string stat;
    if (!std::getline(statFile, stat)) continue;
    const auto open = stat.find('(');
    const auto close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    const std::string name = stat.substr(open + 1, close - open - 1);
    std::istringstream rest(stat.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent == getpid() && name.rfind("WebKitWebProces", 0) == 0) {
      pids.push_back(static_cast<pid_t>(std::stoi(entry.path().filename().string())));
    }
  }
  return pids;
}

TEST_F(BrowserEventsTest, WebProcessKilledMidLoadIsReportedAndTheNextNavigateLoads) {
  server.ServeStalled("/stall", "<html><body>partial");
  server.Serve("/after-kill", "<html><body>fresh process</body></html>");
  BrowserHarness::Browser().SetEvents(&events);
  BrowserHarness::Browser().Navigate(server.Url("/stall"));
  ASSERT_TRUE(RunMainLoopUntil([&] { return Requested("/stall"); }));

  const std::vector<pid_t> pids = WebProcessesOfThisProcess();
  ASSERT_FALSE(pids.empty());
  for (pid_t pid : pids) kill(pid, SIGKILL);
  ASSERT_TRUE(RunMainLoopUntil([&] { return events.HasErrorCode(navigate_status::kPageEnded); }));

  const int index = BrowserHarness::LoadPage(events, server.Url("/after-kill"));
  ASSERT_GE(index, 0);
  EXPECT_NE(std::string::npos,
            events.pages[static_cast<std::size_t>(index)].bodyOuterHtml.find("fresh process"));
}

// An HTTPS server on 127.0.0.1 whose certificate nobody signed.
class UntrustedTlsServer {
 public:
  UntrustedTlsServer() : server_(certificate_.get(), key_.get()) {
    auto count = [this](const httplib::Request&, httplib::Response& response) {
      ++requests;
      response.set_content("<html><body>secret</body></html>", "text/html");
    };
    server_.Get(".*", count);
    server_.Post(".*", count);
    server_.set_keep_alive_max_count(1);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~UntrustedTlsServer() {
    server_.stop();
    thread_.join();
  }
  std::string Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::atomic<int> requests{0};

 private:
  static X509* MakeCertificate(EVP_PKEY* key) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    return cert;
  }

  // Declared before the server, which is made from them.
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_{EVP_EC_gen("P-256"), &EVP_PKEY_free};
  std::unique_ptr<X509, decltype(&X509_free)> certificate_{MakeCertificate(key_.get()), &X509_free};
  httplib::SSLServer server_;
  int port_ = 0;
  std::thread thread_;
};

TEST_F(BrowserEventsTest, UntrustedCertificateFailsTheSubmissionAndSendsNoData) {
  UntrustedTlsServer secure;
  server.Serve("/to-tls", "<html><body><form action='" + secure.Url("/post") +
                              "' method='post'><input name='password' value='secret'>"
                              "<input type='submit' name='go' value='Go'></form></body></html>");
  events.onDocumentComplete = [&](Page& page) {
    if (page.location == server.Url("/to-tls")) page.Click(0, 1);
  };
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/to-tls")), 0);
  ASSERT_TRUE(RunMainLoopUntil([&] {
    return events.HasError(secure.Url("/post"), navigate_status::kInvalidCertificate);
  })) << (events.errors.empty() ? "" : events.errors.back().first);
  ASSERT_TRUE(LoadSentinel());
  EXPECT_EQ(0, secure.requests.load());
}

}  // namespace
}  // namespace veltrane::testing
