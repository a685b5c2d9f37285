// The built service, end to end: a copy of the binary beside its own db/, a
// schedule due now listing three sites served on 127.0.0.1, run under the
// test's X display until the job's history row appears.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/recording_http_server.h"
#include "tests/support/service_process.h"
#include "tests/support/test_database.h"

namespace veltrane::testing {
namespace {

constexpr const char* kPage = "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body>";

// A site that wants a login, then a form with country and category lists.
void ServeAlpha(RecordingHttpServer& server) {
  server.Serve("/alpha/", std::string(kPage) +
                              "<form action='/alpha/login' method='post'><input name='user'>"
                              "<input type='password' name='pass'>"
                              "<input type='submit' value='Login'></form></body></html>");
  server.Serve("/alpha/login",
               std::string(kPage) +
                   "<p>Welcome back</p><form action='/alpha/search'><input name='q'></form>"
                   "<form action='/alpha/submit' method='post'><input name='headline'>"
                   "<textarea name='body'></textarea>"
                   "<select name='country'><option value=''>-</option><option value='AT'>Austria"
                   "</option><option value='DE'>Germany</option></select>"
                   "<select name='category'><option value=''>-</option><option value='b'>Business"
                   "</option><option value='t'>Technology</option></select>"
                   "<input type='submit' value='Publish'></form></body></html>");
  server.Serve("/alpha/submit",
               std::string(kPage) + "<p>Thank you for your submission</p></body></html>");
}

// A site reached through a link search, whose answer page redirects.
void ServeBeta(RecordingHttpServer& server) {
  server.Serve("/beta/", std::string(kPage) +
                             "<a href='/beta/about'>About</a> <a href='/beta/submit-news'>Submit"
                             "</a></body></html>");
  server.Serve("/beta/submit-news",
               std::string(kPage) +
                   "<form action='/beta/post' method='post'><input name='title'>"
                   "<input type='submit' value='Send'></form></body></html>");
  server.Serve("/beta/post",
               "<html><head><meta http-equiv='refresh' content='1;url=/beta/done'>"
               "</head><body>One moment</body></html>");
  server.Serve("/beta/done", std::string(kPage) + "<p>Received</p></body></html>");
}

// A site whose answer never says it accepted the release.
void ServeGamma(RecordingHttpServer& server) {
  server.Serve("/gamma/", std::string(kPage) +
                              "<form action='/gamma/post' method='post'><input name='t'>"
                              "<input type='submit' value='Go'></form></body></html>");
  server.Serve("/gamma/post", std::string(kPage) + "<p>Submissions are closed</p></body></html>");
}

class ServiceEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ServeAlpha(server);
    ServeBeta(server);
    ServeGamma(server);
    databases.Main(
        "INSERT INTO pressrelease (name,contact_data,headline,news_body,category,extra_data) "
        "VALUES ('Launch','company_name=Acme\r\ncountry=Germany\r\n','Acme ships the "
        "\xc3\x9c"
        "ber-Widget','Line one\r\nLine two','Business','alpha=Technology\r\n');"
        "INSERT INTO account (name,username,password) VALUES ('alpha','acme','s3cret');"
        "INSERT INTO schedule (id,name,subscription,frequency,time,next) "
        "VALUES (1,'Launch','alpha\r\nbeta\r\ngamma',1,0.25,1)");
    AddSite("alpha", "/alpha/",
            "[STEP1]\nAPP-FormPos=0\nuser=$$username$$\npass=$$password$$\n"
            "[STEP2]\nAPP-UniqueString=Welcome\nAPP-FormPos=0\nheadline=$$headline$$\n"
            "body=$$news_body$$\ncountry=$$country\ncategory=$$category$$\n"
            "[STEP3]\nAPP-SuccessString=Thank you\n");
    AddSite("beta", "/beta/",
            "[STEP1]\nAPP-SearchLinkPattern=submit-news\n"
            "[STEP2]\nAPP-FormPos=0\ntitle=$$headline$$\n"
            "[STEP3]\nAPP-WaitForRedirect=1\n"
            "[STEP4]\nAPP-SuccessString=Received\n");
    AddSite("gamma", "/gamma/",
            "[STEP1]\nAPP-FormPos=0\nt=$$company$$\n[STEP2]\nAPP-SuccessString=Accepted\n");
  }

  void AddSite(const std::string& name, const std::string& path, const std::string& script) {
    databases.Subscription("INSERT INTO subscription (name,url,submission_data) VALUES ('" + name +
                           "','" + server.Url(path) + "','" + script + "')");
  }

  std::string History(const std::string& column) const {
    return databases.MainScalar("SELECT " + column + " FROM history");
  }

  RecordingHttpServer server;
  TestDatabases databases;
};

TEST_F(ServiceEndToEnd, DueScheduleIsSubmittedToEverySiteAndReported) {
  ServiceProcess service(VELTRANE_BINARY, databases.Directory());
  service.Start();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (History("count(*)") == "0" && std::chrono::steady_clock::now() < end && service.Running())
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ("1", History("count(*)")) << service.ErrorLog();

  // A second copy while the first runs says so and leaves with exit code 0.
  EXPECT_EQ(0, service.RunToEnd({{"DISPLAY", ""}}, 60));
  service.Kill();

  const auto logins = server.RequestsTo("/alpha/login");
  ASSERT_EQ(1u, logins.size());
  EXPECT_EQ("acme", logins[0].params.find("user")->second);
  EXPECT_EQ("s3cret", logins[0].params.find("pass")->second);
  const auto alpha = server.RequestsTo("/alpha/submit");
  ASSERT_EQ(1u, alpha.size());
  EXPECT_EQ(
      "Acme ships the \xc3\x9c"
      "ber-Widget",
      alpha[0].params.find("headline")->second);
  EXPECT_EQ("Line one\r\nLine two", alpha[0].params.find("body")->second);
  EXPECT_EQ("DE", alpha[0].params.find("country")->second);
  EXPECT_EQ("t", alpha[0].params.find("category")->second);  // the site's own category
  EXPECT_TRUE(server.RequestsTo("/alpha/search").empty());
  ASSERT_EQ(1u, server.RequestsTo("/beta/post").size());
  EXPECT_EQ(1u, server.RequestsTo("/beta/done").size());
  EXPECT_TRUE(server.RequestsTo("/beta/about").empty());
  ASSERT_EQ(1u, server.RequestsTo("/gamma/post").size());
  EXPECT_EQ("Acme", server.RequestsTo("/gamma/post")[0].params.find("t")->second);

  EXPECT_EQ("Partial", History("status"));
  EXPECT_EQ("Launch", History("name"));
  EXPECT_EQ("alpha,beta,gamma", History("subscription"));
  const std::string report = History("content");
  EXPECT_NE(std::string::npos, report.find("Complete submission : \r\n - alpha\r\n - beta\r\n"))
      << report;
  EXPECT_NE(std::string::npos,
            report.find("Failed submission : \r\n - gamma (Submission failed (success string "
                        "not found))\r\n"))
      << report;

  // Daily, plus six hours: far beyond the old next-run time of day 1.
  EXPECT_GT(std::stod(databases.MainScalar("SELECT next FROM schedule WHERE id = 1")), 40000.0);

  // The failed site's page was kept as a PNG.
  int shots = 0;
  for (const auto& entry : std::filesystem::directory_iterator(databases.Directory() + "/shots")) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ("-gamma.png", name.substr(name.size() - 10)) << name;
    std::ifstream png(entry.path(), std::ios::binary);
    unsigned char header[24] = {};
    png.read(reinterpret_cast<char*>(header), sizeof header);
    EXPECT_EQ(std::string("\x89PNG\r\n\x1a\n", 8), std::string(header, header + 8));
    // The IHDR chunk gives the picture's size: the page as the window showed it.
    const auto big = [&](int at) {
      return header[at] << 24 | header[at + 1] << 16 | header[at + 2] << 8 | header[at + 3];
    };
    EXPECT_EQ("IHDR", std::string(header + 12, header + 16));
    EXPECT_GT(big(16), 100) << "width";
    EXPECT_GT(big(20), 100) << "height";
    ++shots;
  }
  EXPECT_EQ(1, shots);
}

TEST_F(ServiceEndToEnd, UnusableLockFileIsAnErrorWithNonZeroExit) {
  ServiceProcess service(VELTRANE_BINARY, databases.Directory());
  // A directory where the lock file belongs: it can be neither opened nor locked.
  std::filesystem::create_directories(service.LockDirectory() + "/VeltraneService.MUTEX");
  EXPECT_EQ(1, service.RunToEnd({}, 60));
  std::ifstream log(databases.Directory() + "/second.log");
  const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, text.find("veltrane: cannot open ")) << text;
  EXPECT_EQ(std::string::npos, text.find("already running")) << text;
  EXPECT_EQ("0", History("count(*)"));
}

}  // namespace
}  // namespace veltrane::testing
