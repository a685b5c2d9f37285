// The web view's pieces: who may read it, where it may listen, which
// screenshots it serves, and its answers over real database files holding
// hostile names, reasons, addresses and screenshot paths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "admin/admin_context.h"
#include "admin/web_api.h"
#include "tests/support/test_database.h"
#include "web/shot_files.h"
#include "web/web_access.h"
#include "web/web_hosts.h"
#include "web/web_routes.h"
#include "web/web_server.h"
#include "web/web_settings.h"

namespace veltrane::web {
namespace {

using veltrane::testing::TempDir;
using veltrane::testing::TestDatabases;

TEST(WebAccessTest, WithoutATokenOnlyLoopbackPeersAreAnswered) {
  const AccessGuard guard("");
  for (const char* peer : {"127.0.0.1", "127.8.9.10", "::1", "::ffff:127.0.0.1"})
    EXPECT_TRUE(guard.Allows(peer, "", "")) << peer;
  for (const char* peer : {"192.0.2.7", "10.0.0.1", "::ffff:192.0.2.7", "2001:db8::1", "", "x"})
    EXPECT_FALSE(guard.Allows(peer, "Bearer ", "")) << peer;
  EXPECT_EQ("", guard.OneTimeCode());
}

TEST(WebAccessTest, WithATokenEveryRequestCarriesItOrASignInCookie) {
  const std::string token = "0123456789abcdef0123456789abcdef";
  AccessGuard guard(token);
  EXPECT_FALSE(guard.Allows("192.0.2.7", "", ""));
  EXPECT_FALSE(guard.Allows("127.0.0.1", "", ""));  // loopback too
  EXPECT_FALSE(guard.Allows("192.0.2.7", "Bearer " + token + "0", ""));
  EXPECT_FALSE(guard.Allows("192.0.2.7", "Basic " + token, ""));
  EXPECT_TRUE(guard.Allows("192.0.2.7", "Bearer " + token, ""));
  EXPECT_FALSE(guard.Allows("192.0.2.7", "", std::string(kSessionCookie) + "="));

  const std::string code = guard.OneTimeCode();
  EXPECT_EQ(64u, code.size());
  EXPECT_FALSE(guard.Redeem(code.substr(1)));
  const std::optional<std::string> cookie = guard.Redeem(code);
  ASSERT_TRUE(cookie);
  EXPECT_FALSE(guard.Redeem(code));  // once only
  const std::string pair = cookie->substr(0, cookie->find(';'));
  EXPECT_EQ(std::string::npos, cookie->find(token));  // the cookie never holds the token
  EXPECT_NE(std::string::npos, cookie->find("HttpOnly"));
  EXPECT_EQ(std::string::npos, cookie->find("Secure"));
  EXPECT_TRUE(guard.Allows("192.0.2.7", "", "other=1; " + pair));
  EXPECT_FALSE(guard.Allows("192.0.2.7", "", std::string(kSessionCookie) + "=guess"));
}

TEST(WebAccessTest, TokensAreCountedInBits) {
  const struct {
    std::string token;
    int bits;
  } cases[] = {{"z", 6},
               {std::string(31, 'f'), 124},
               {std::string(32, 'F'), 128},
               {std::string(21, 'x'), 126},
               {"q1w2e3r4t5y6u7i8o9p0aZ", 132}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.bits, TokenBits(c.token)) << c.token;
    if (c.bits < kLeastTokenBits) {
      EXPECT_THROW(AccessGuard{c.token}, std::runtime_error) << c.token;
    }
  }
}

TEST(WebAccessTest, OnlyTheServersOwnHostNamesAreAnswered) {
  const std::vector<std::string> names = {"View.Example.org", "ops.example."};
  const struct {
    const char* host;
    const char* listen;
    bool own;
  } cases[] = {
      {"127.0.0.1:8470", "127.0.0.1", true},
      {"127.9.9.9", "127.0.0.1", true},
      {"[::1]:8470", "127.0.0.1", true},
      {"LOCALHOST:8470", "127.0.0.1", true},
      {"localhost.:1", "127.0.0.1", true},
      {"view.example.org:8470", "127.0.0.1", true},
      {"ops.example", "127.0.0.1", true},
      {"192.0.2.7:8470", "192.0.2.7", true},
      {"198.51.100.1:8470", "0.0.0.0", true},
      {"[2001:db8::1]:8470", "::", true},
      {"198.51.100.1:8470", "192.0.2.7", false},
      {"attacker.example:8470", "127.0.0.1", false},
      {"attacker.example:8470", "0.0.0.0", false},
      {"localhost.attacker.example", "127.0.0.1", false},
      {"127.0.0.1.attacker.example", "127.0.0.1", false},
      {"example.org", "127.0.0.1", false},
      {"attacker@127.0.0.1", "127.0.0.1", false},
      {"127.0.0.1/x", "127.0.0.1", false},
      {"%6cocalhost", "127.0.0.1", false},
      {"", "127.0.0.1", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.own, IsOwnHost(c.host, c.listen, names)) << c.host;
}

TEST(WebServerTest, AnotherAddressThanLoopbackNeedsAToken) {
  try {
    WebServer server({"0.0.0.0", 0}, WebSetup{});
    ADD_FAILURE() << "listened without a token";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(0u, std::string(error.what()).find("listening on 0.0.0.0 needs a token"))
        << error.what();
  }
}

TEST(ShotFilesTest, OnlyPlainNamesInTheFolderAreServed) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("shots"));
  std::filesystem::create_directories(dir.File("db"));
  std::ofstream(dir.File("shots/20240501-093000-site.png")) << "PNG";
  std::ofstream(dir.File("db/vt.dat")) << "secret";
  std::filesystem::create_symlink(dir.File("db/vt.dat"), dir.File("shots/link.png"));
  const std::string shots = dir.File("shots");
  EXPECT_EQ("PNG", ReadShot(shots, "20240501-093000-site.png").value_or("(none)"));
  for (const char* name : {"../db/vt.dat", "link.png", "..png", "/etc/passwd", "", "x.dat",
                           "sub/x.png", "missing.png"})
    EXPECT_FALSE(ReadShot(shots, name)) << name;
}

// Answers over real files that hold what sites and people could put there.
class WebRoutesTest : public ::testing::Test {
 protected:
  WebRoutesTest() {
    databases.Main(
        "INSERT INTO history (id,name,time,status,content,subscription) VALUES "
        "(1,'Launch','45000.5','Failed','Failed submission : <script>alert(1)</script>',"
        "'x');"
        "INSERT INTO job (id,schedule_id,name,subscription,started,finished,history_id) VALUES "
        "(1,1,'Launch','x',45000.4,45000.5,1);"
        "INSERT INTO job_site (job_id,schedule_id,position,site,status,reason,started,ended,"
        "last_url,last_status,success_text,pages,screenshot,notes) VALUES "
        "(1,1,0,'<img src=x onerror=alert(1)>','Failed','<b>bad</b> reason',45000.4,45000.45,"
        "'http://a/?q=\"><script>alert(2)</script>',500,'<i>Thanks</i>',1,'../db/vt.dat',"
        "'form changed: missing <u>x</u>')");
    databases.Subscription(
        "INSERT INTO subscription (name,url,submission_data) VALUES "
        "('<img src=x onerror=alert(1)>','http://a/<b>','[STEP1]\npass=$$password$$\n');");
    databases.Main(
        "INSERT INTO account (name,username,password) VALUES "
        "('<img src=x onerror=alert(1)>','user','hunter2')");
  }

  WebResponse Get(const std::string& path, const Query& query = {},
                  const std::string& peer = "127.0.0.1") {
    return routes.Answer({"GET", path, query, peer, "", "", "127.0.0.1:8470"});
  }

  WebSetup Setup() const {
    WebSetup setup;
    setup.paths = databases.Paths();
    setup.shotsDirectory = databases.Directory() + "/shots";
    return setup;
  }

  TestDatabases databases;
  WebRoutes routes{Setup()};
};

TEST_F(WebRoutesTest, EveryTextFromASiteOrAPersonIsEscaped) {
  const std::string kName = "<img src=x onerror=alert(1)>";
  for (const auto& [path, query] : std::vector<std::pair<std::string, Query>>{
           {"/job", {{"id", "1"}}}, {"/site", {{"name", kName}}}, {"/grid", {}}, {"/", {}}}) {
    const WebResponse response = Get(path, query);
    ASSERT_EQ(200, response.status) << path << response.body;
    for (const char* markup : {"<img", "<script", "<b>", "<i>", "<u>"})
      EXPECT_EQ(std::string::npos, response.body.find(markup)) << path << " " << markup;
    EXPECT_EQ(std::string::npos, response.body.find("hunter2")) << path;
  }
  const std::string job = Get("/job", {{"id", "1"}}).body;
  EXPECT_NE(std::string::npos, job.find("&lt;img src=x onerror=alert(1)&gt;"));
  EXPECT_NE(std::string::npos, job.find("&lt;b&gt;bad&lt;/b&gt; reason"));
  EXPECT_NE(std::string::npos, job.find("http://a/?q=&quot;&gt;&lt;script&gt;alert(2)"));
  // A recorded path outside the folder is named, never linked or served.
  EXPECT_EQ(std::string::npos, job.find("/shot?"));
  EXPECT_NE(std::string::npos, job.find("Screenshot ../db/vt.dat is not in the screenshot folder"));
  EXPECT_EQ(404, Get("/shot", {{"job", "1"}, {"position", "0"}}).status);
  EXPECT_EQ(404, Get("/shot", {{"site", kName}}).status);
  EXPECT_EQ(404, Get("/shot/../db/vt.dat").status);
  EXPECT_NE(std::string::npos, Get("/site", {{"name", kName}}).body.find("pass=$$password$$"));
}

TEST_F(WebRoutesTest, NothingIsChangedAndForeignPeersNeedTheToken) {
  for (const char* method : {"POST", "PUT", "DELETE", "PATCH"}) {
    const WebResponse response =
        routes.Answer({method, "/", {}, "127.0.0.1", "", "", "127.0.0.1:8470"});
    EXPECT_EQ(405, response.status) << method;
  }
  const WebResponse refused = Get("/", {}, "192.0.2.7");
  EXPECT_EQ(401, refused.status);
  EXPECT_EQ(std::string::npos, refused.body.find("Launch"));
  const WebResponse page = Get("/");
  bool noScript = false;
  for (const auto& [name, value] : page.headers)
    if (name == "Content-Security-Policy") noScript = value.starts_with("default-src 'none'");
  EXPECT_TRUE(noScript);
  EXPECT_EQ(404, Get("/job", {{"id", "2"}}).status);
  EXPECT_EQ(404, Get("/job", {{"id", "1 OR 1=1"}}).status);
}

TEST_F(WebRoutesTest, ApiGivesTheCommandsJsonAndTakesNoOptionsFromValues) {
  std::istringstream in;
  std::ostringstream out, err;
  const admin::AdminIo io{in, out, err};
  const admin::AdminContext context{databases.Directory(), io};
  const WebResponse history = admin::AnswerApi(context, "history", {{"limit", "1"}});
  EXPECT_EQ(200, history.status);
  EXPECT_NE(std::string::npos, history.body.find("\"release\": \"Launch\"")) << history.body;
  // A value that looks like an option stays the value of its own option.
  const WebResponse injected = admin::AnswerApi(context, "history", {{"since", "--dir=/"}});
  EXPECT_EQ(400, injected.status) << injected.body;
  EXPECT_NE(std::string::npos, injected.body.find("is not a date")) << injected.body;
  EXPECT_EQ(404, admin::AnswerApi(context, "site/add", {}).status);
}

}  // namespace
}  // namespace veltrane::web
