// site try on a three-step site served on 127.0.0.1 (login, link search,
// release form): held back before the release is posted, then run in full
// with --submit; what it printed is what the site received. A changed form
// shows, and a login is refused at a redirect to another host. A held form
// shows the login neither in what it would post nor in its picture.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "authoring/authoring_commands.h"
#include "tests/support/recording_http_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_database.h"
#include "tests/support/png_pixels.h"

namespace veltrane::testing {
namespace {

using Fields = std::multimap<std::string, std::string>;

constexpr const char* kPage = "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body>";

class SiteTryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.Serve("/d/", std::string(kPage) +
                            "<form action='/d/login' method='post'><input name='user'>"
                            "<input type='password' name='pass'><input type='submit' value='In'>"
                            "</form></body></html>");
    server.Serve("/d/login", std::string(kPage) +
                                 "<a href='/d/about'>About</a><a href='/d/submit-news'>Submit</a>"
                                 "</body></html>");
    server.Serve("/d/submit-news",
                 std::string(kPage) +
                     "<form action='/d/post' method='post'><input type='hidden' name='token' "
                     "value='t1'><input name='headline'><textarea name='body'></textarea>"
                     "<select name='country'><option value=''>-</option><option value='DE'>"
                     "Germany</option></select><input type='checkbox' name='agree' value='yes'>"
                     "<input type='checkbox' name='spam' value='no'>"
                     "<input type='submit' name='go' value='Preview'>"
                     "<input type='submit' name='go' value='Publish'></form></body></html>");
    server.Serve("/d/post", std::string(kPage) + "<p>Thank you</p></body></html>");
    databases.Main(
        "INSERT INTO pressrelease (name,contact_data,headline,news_body) VALUES ('Launch',"
        "'country=Germany\r\n','Acme ships','Line one\r\nLine two');"
        "INSERT INTO account (name,username,password) VALUES ('Daily','acme','s3cret')");
    AddSite("Daily", "/d/",
            "[STEP1]\nAPP-FormPos=0\nuser=$$username$$\npass=$$password$$\n"
            "[STEP2]\nAPP-SearchLinkPattern=submit-news\n"
            "[STEP3]\nAPP-FormPos=0\nAPP-SubmitButtonValue=Publish\nheadline=$$headline$$\n"
            "body=$$news_body$$\ncountry=$$country\nagree=yes\n"
            "[STEP4]\nAPP-SuccessString=Thank you\n");
  }

  void AddSite(const std::string& name, const std::string& path, const std::string& script) {
    databases.Subscription("INSERT INTO subscription (name,url,submission_data) VALUES ('" + name +
                           "','" + server.Url(path) + "','" + script + "')");
  }

  // Runs the command; gives its exit code (0 when it threw nothing).
  int Try(std::vector<std::string> args) {
    out.str("");
    try {
      authoring::RunSiteTry({databases.Directory(), databases.Paths(), out, err}, args);
      return 0;
    } catch (const CommandError& error) {
      lastError = error.what();
      return error.ExitCode();
    }
  }

  // The "  name = "value"" lines after "would post:", unescaped.
  Fields PrintedFields() const {
    Fields fields;
    std::istringstream lines(out.str());
    std::string line;
    bool inPost = false;
    while (std::getline(lines, line)) {
      if (line.starts_with("would post: ")) inPost = true;
      if (!inPost || !line.starts_with("  ")) continue;
      const std::size_t equals = line.find(" = \"");
      std::string value = line.substr(equals + 4, line.size() - equals - 5);
      for (std::size_t at; (at = value.find("\\r")) != std::string::npos;)
        value.replace(at, 2, "\r");
      for (std::size_t at; (at = value.find("\\n")) != std::string::npos;)
        value.replace(at, 2, "\n");
      fields.emplace(line.substr(2, equals - 2), value);
    }
    return fields;
  }

  RecordingHttpServer server;
  TestDatabases databases;
  std::ostringstream out, err;
  std::string lastError;
};

// A PNG that shows a page: one colour all over is a blank shot.
bool ShowsSomething(const std::string& path) {
  g_autoptr(GdkPixbuf) picture = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
  if (!picture) return false;
  const guchar* pixels = gdk_pixbuf_read_pixels(picture);
  const int stride = gdk_pixbuf_get_rowstride(picture);
  const int pixelBytes = gdk_pixbuf_get_n_channels(picture);
  for (int y = 0; y < gdk_pixbuf_get_height(picture); ++y)
    for (int x = 0; x < gdk_pixbuf_get_width(picture); ++x)
      if (std::memcmp(pixels, pixels + y * stride + x * pixelBytes, pixelBytes) != 0) return true;
  return false;
}

TEST_F(SiteTryTest, NoSubmitLogsInAndFollowsTheLinkButPostsNothingAndShowsWhatAFullRunPosts) {
  const std::string shots = databases.Directory() + "/held";
  ASSERT_EQ(0, Try({"Daily", "--release", "Launch", "--no-submit", "--shots", shots}))
      << lastError << "\n"
      << out.str();
  const std::string held = out.str();
  EXPECT_EQ(1u, server.RequestsTo("/d/login").size());
  EXPECT_EQ(1u, server.RequestsTo("/d/submit-news").size());
  EXPECT_TRUE(server.RequestsTo("/d/post").empty());
  EXPECT_NE(std::string::npos, held.find("result: stopped before sending form #0")) << held;
  EXPECT_NE(std::string::npos, held.find("would post: post " + server.Url("/d/post"))) << held;
  EXPECT_NE(std::string::npos, held.find("button: \"Publish\" (element 7)")) << held;
  EXPECT_EQ(std::string::npos, held.find("s3cret"));  // the trace hides the password
  const Fields printed = PrintedFields();

  // Every page handled is pictured: start, after login, link target.
  ASSERT_EQ(3, std::distance(std::filesystem::directory_iterator(shots), {})) << held;
  EXPECT_TRUE(ShowsSomething(shots + "/page-03.png"));

  ASSERT_EQ(0, Try({"Daily", "--release", "Launch", "--submit", "--shots",
                    databases.Directory() + "/full"}))
      << lastError << "\n"
      << out.str();
  const auto posts = server.RequestsTo("/d/post");
  ASSERT_EQ(1u, posts.size());
  EXPECT_EQ(Fields(posts[0].params.begin(), posts[0].params.end()), printed) << held;
  EXPECT_EQ("Line one\r\nLine two", posts[0].params.find("body")->second);
  EXPECT_NE(std::string::npos, out.str().find("result: completed")) << out.str();
  EXPECT_NE(std::string::npos, out.str().find("success text: \"Thank you\" (found)"));
  EXPECT_NE(std::string::npos, out.str().find("pages loaded: 4"));

  // A trial writes no history; the one that sent the release is recorded as a trial.
  EXPECT_EQ("0", databases.MainScalar("SELECT count(*) FROM history"));
  EXPECT_EQ("1", databases.MainScalar("SELECT count(*) FROM job_site"));
  EXPECT_EQ("1", databases.MainScalar("SELECT trial FROM job"));
}

// A symbolic link in a picture's place is refused, with its reason, and what
// it leads to stays as it was; the other pictures are taken.
TEST_F(SiteTryTest, APictureIsNeverWrittenThroughASymbolicLink) {
  const std::string shots = databases.Directory() + "/linked";
  const std::string owned = databases.Directory() + "/owned.txt";
  std::filesystem::create_directory(shots);
  std::ofstream(owned) << "kept";
  std::filesystem::create_symlink(owned, shots + "/page-02.png");
  ASSERT_EQ(0, Try({"Daily", "--release", "Launch", "--no-submit", "--shots", shots}))
      << lastError << "\n"
      << out.str();
  EXPECT_NE(std::string::npos, out.str().find(" Page picture refused : " + shots +
                                              "/page-02.png is a symbolic link, which is not "
                                              "followed\n"))
      << out.str();
  EXPECT_EQ("kept", FileBytes(owned));
  EXPECT_TRUE(std::filesystem::is_symlink(shots + "/page-02.png"));
  EXPECT_TRUE(ShowsSomething(shots + "/page-03.png"));
}

TEST_F(SiteTryTest, AChangedFormIsTracedAndTheFailedSiteGivesItsOwnExitCode) {
  server.Serve("/c/", std::string(kPage) +
                          "<form action='/c/post' method='post'><input name='headline'>"
                          "<input type='submit' value='Go'></form></body></html>");
  server.Serve("/c/post", std::string(kPage) + "<p>Closed</p></body></html>");
  AddSite("Changed", "/c/",
          "[STEP1]\nAPP-FormPos=0\nheadline=$$headline$$\nsummary=$$summary$$\nTopic=x\n"
          "[STEP2]\nAPP-SuccessString=Thank you\n");
  EXPECT_EQ(kExitSiteFailed, Try({"Changed", "--release", "Launch", "--submit", "--shots",
                                  databases.Directory() + "/c"}));
  EXPECT_EQ("site 'Changed' failed: Submission failed (success string not found)", lastError);
  const std::string text = out.str();
  EXPECT_NE(std::string::npos, text.find(" Form changed: form #0 has no control summary, Topic\n"))
      << text;
  EXPECT_NE(std::string::npos, text.find("notes: form changed: missing summary, Topic\n"));
  EXPECT_NE(std::string::npos, text.find("success text: \"Thank you\" (looked for)"));
  EXPECT_EQ(1u, server.RequestsTo("/c/post").size());  // filling and sending went on

  // A login re-sent to another host by a redirect is refused there, as in the service.
  server.Handle("/e/login", [this](const httplib::Request&, httplib::Response& response) {
    response.status = 307;
    response.set_header("Location",
                        "http://localhost:" + std::to_string(server.Port()) + "/e/stolen");
  });
  server.Serve("/e/", std::string(kPage) +
                          "<form action='/e/login' method='post'><input name='user'>"
                          "<input type='submit' value='In'></form></body></html>");
  AddSite("Elsewhere", "/e/", "[STEP1]\nAPP-FormPos=0\nuser=$$username$$\n");
  EXPECT_EQ(kExitSiteFailed, Try({"Elsewhere", "--release", "Launch"}));
  EXPECT_EQ("site 'Elsewhere' failed: Login form on another host (localhost)", lastError);
  EXPECT_EQ(1u, server.RequestsTo("/e/login").size());
  EXPECT_TRUE(server.RequestsTo("/e/stolen").empty());

  // A form that takes the login and the release is held back like a release
  // form. Neither what it would post nor its picture shows the login: the
  // picture is that of the same form filled without it.
  const std::string both = std::string(kPage) +
                           "<form action='/both/post' method='post'><input name='user'>"
                           "<input name='pass'><input name='headline'>"
                           "<input type='submit' value='Go'></form></body></html>";
  server.Serve("/both/", both);
  server.Serve("/no-login/", both);
  AddSite("Both", "/both/",
          "[STEP1]\nAPP-FormPos=0\nuser=$$username$$\npass=$$password$$\nheadline=$$headline$$\n");
  AddSite("NoLogin", "/no-login/", "[STEP1]\nAPP-FormPos=0\nheadline=$$headline$$\n");
  databases.Main(
      "INSERT INTO account (name,username,password) VALUES ('Both','both-user','b0th pw')");
  const std::string bothShots = databases.Directory() + "/both";
  EXPECT_EQ(0, Try({"Both", "--release", "Launch", "--shots", bothShots})) << lastError;
  EXPECT_NE(std::string::npos, out.str().find("result: stopped before sending form #0"));
  EXPECT_EQ((Fields{{"user", "***"}, {"pass", "***"}, {"headline", "Acme ships"}}), PrintedFields())
      << out.str();
  EXPECT_EQ(std::string::npos, out.str().find("b0th pw")) << out.str();
  EXPECT_TRUE(server.RequestsTo("/both/post").empty());
  const std::string noLoginShots = databases.Directory() + "/no-login";
  EXPECT_EQ(0, Try({"NoLogin", "--release", "Launch", "--shots", noLoginShots})) << lastError;
  ASSERT_FALSE(Pixels(noLoginShots + "/page-01.png").empty());
  EXPECT_TRUE(Pixels(bothShots + "/page-01.png") == Pixels(noLoginShots + "/page-01.png"))
      << "the login is drawn in " << bothShots << "/page-01.png";

  EXPECT_EQ(kExitData, Try({"Nowhere", "--release", "Launch"}));
  EXPECT_EQ("unknown site 'Nowhere'", lastError);
}

}  // namespace
}  // namespace veltrane::testing
