// page inspect on pages served on 127.0.0.1: forms, controls owned through
// form=, lists, buttons and links as the service's form location and link
// search see the same page in the service's control; redirects and dialogs.
// The built tool on an X display of its own that only it may use, and a
// page's control characters, which no output carries raw.
#include <gtest/gtest.h>
#include <json-glib/json-glib.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "authoring/authoring_commands.h"
#include "authoring/page_inspection.h"
#include "engine/form_location.h"
#include "engine/link_search.h"
#include "engine/site_script.h"
#include "tests/support/browser_harness.h"
#include "tests/support/file_modes.h"
#include "tests/support/recording_http_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/x_server_probe.h"

namespace veltrane::testing {
namespace {

using authoring::InspectPage;
using Names = std::vector<std::string>;

constexpr char kFormsPage[] =
    "<!DOCTYPE html><html><body>"
    "<form action='/search'><input name='q'><input type='submit' value='Go'></form>"
    "<form action='/login' method='post'><input name='user'><input type='password' name='pass'>"
    "</form>"
    "<input name='headline' form='release'>"
    "<form id='release' action='/post' method='post'><textarea name='body'></textarea>"
    "<select name='country'><option value=''>-</option><option value='DE'>Germany</option>"
    "</select><input type='checkbox' name='agree' value='yes'>"
    "<input type='submit' value='Preview'><input type='submit' name='go' value='Publish'>"
    "<button type='submit' name='b' value='x'>Tag</button></form>"
    "<a href='/news/1'>1</a><a href='/about'>a</a><a href='/news/2'>2</a>"
    "</body></html>";

const authoring::InspectOptions kQuick{std::chrono::milliseconds(300), std::chrono::seconds(60)};

class PageInspectTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BrowserHarness::Start(); }
  static void TearDownTestSuite() { BrowserHarness::Stop(); }
  void TearDown() override { BrowserHarness::Browser().SetEvents(nullptr); }

  RecordingHttpServer server;
  RecordingBrowserEvents events;
};

TEST_F(PageInspectTest, FormsAndControlNamesAreThoseFormLocationFindsOnTheSamePage) {
  server.Serve("/forms", kFormsPage);
  const int loaded = BrowserHarness::LoadPage(events, server.Url("/forms"));
  ASSERT_GE(loaded, 0);
  const Page& servicePage = events.pages[static_cast<std::size_t>(loaded)];

  const authoring::PageInspection inspection = InspectPage(server.Url("/forms"), kQuick);
  ASSERT_EQ(1u, inspection.pages.size());
  const Page& inspected = inspection.pages.back();
  EXPECT_EQ(ListFormSignatures(servicePage), ListFormSignatures(inspected));
  ASSERT_EQ(3u, inspected.forms.size());
  // The control outside the form belongs to it, first in document order.
  EXPECT_EQ((Names{"headline", "body", "country", "agree", "", "go"}),
            FormControlNames(inspected.forms[2]));
  RecordingTrace trace;
  const SiteSteps steps("[STEP1]\nAPP-FormPos=0\nheadline=x\nbody=y");
  EXPECT_EQ(2, LocateForm(servicePage, 0, steps.Step(1).fields, trace));

  std::ostringstream out, err;
  authoring::RunPageInspect({".", {}, out, err},
                            {server.Url("/forms"), "--links", "news", "--settle", "300"});
  const std::string text = out.str();
  for (const std::string& line :
       {"form 1 (APP-FormPos=1): post " + server.Url("/login"),
        std::string("  controls: headline, body, country, agree, (unnamed), go"),
        std::string("  [0] input text name=\"headline\" value=\"\""),
        std::string("      option 1: value=\"DE\" text=\"Germany\""),
        std::string("  [4] input submit name=\"\" value=\"Preview\"  button \"Preview\", clicked "
                    "by default"),
        std::string("  [6] other submit name=\"b\" value=\"x\"  button \"x\" text \"Tag\"\n"),
        std::string("links: 3"), std::string("links matching \"news\": 2"),
        "  " + server.Url("/news/1") + "\n  " + server.Url("/news/2")})
    EXPECT_NE(std::string::npos, text.find(line)) << line << "\n---\n" << text;
  EXPECT_EQ(FindLink(servicePage, "news"), server.Url("/news/1"));
}

// A control a script added is marked; those of the page's source are not.
TEST_F(PageInspectTest, CustomControlsAndButtonTagsAreListedInDocumentOrder) {
  server.Serve("/custom",
               "<html><body><form action='/p' method='post'><input name='a'>"
               "<star-rating name='stars'></star-rating><fieldset></fieldset>"
               "<input type='image' name='i'><button name='go'> Send\n <b>now</b></button>"
               "</form><script>customElements.define('star-rating', class extends HTMLElement {"
               " static formAssociated = true; get value() { return '3'; } });"
               "const t = document.createElement('input'); t.type = 'hidden';"
               " t.name = 'tok' + 'en'; t.value = 'k'; document.forms[0].append(t);</script>"
               "</body></html>");
  const authoring::PageInspection inspection = InspectPage(server.Url("/custom"), kQuick);
  ASSERT_EQ(1u, inspection.pages.size());
  ASSERT_EQ(1u, inspection.pages.back().forms.size());
  const std::string text = authoring::InspectionText(inspection, std::nullopt);
  for (const char* line :
       {"controls: a, stars, i, token\n", "[1] input star-rating name=\"stars\" value=\"3\"\n",
        "[2] other fieldset",
        "[3] input image name=\"i\" value=\"\"  button \"\", clicked by default\n",
        "[4] other submit name=\"go\" value=\"\"  button \"\" text \"Send now\"\n",
        "[5] input hidden name=\"token\" value=\"k\"  (added by a script)\n"})
    EXPECT_NE(std::string::npos, text.find(line)) << line << "\n---\n" << text;
}

TEST_F(PageInspectTest, RedirectsAreFollowedAndDialogsAnsweredAndNoted) {
  server.Handle("/old", [this](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(server.Url("/refresh"));
  });
  server.Serve("/refresh",
               "<html><head><meta http-equiv='refresh' content='0;url=/final'></head></html>");
  server.Serve("/final",
               "<html><body onload=\"alert('Welcome'); confirm('Sure?')\">"
               "<form action='/x'><input name='n'></form></body></html>");

  const authoring::PageInspection inspection = InspectPage(server.Url("/old"), kQuick);
  const std::string json = authoring::InspectionJson(inspection, std::nullopt);
  g_autoptr(JsonParser) parser = json_parser_new();
  ASSERT_TRUE(json_parser_load_from_data(parser, json.c_str(), -1, nullptr)) << json;
  JsonObject* root = json_node_get_object(json_parser_get_root(parser));
  EXPECT_STREQ(server.Url("/final").c_str(), json_object_get_string_member(root, "location"));
  EXPECT_EQ(200, json_object_get_int_member(root, "status"));
  JsonArray* pages = json_object_get_array_member(root, "pages");
  ASSERT_EQ(2u, json_array_get_length(pages)) << json;
  EXPECT_STREQ(server.Url("/refresh").c_str(),
               json_object_get_string_member(json_array_get_object_element(pages, 0), "location"));
  JsonArray* dialogs = json_object_get_array_member(root, "dialogs");
  ASSERT_EQ(2u, json_array_get_length(dialogs)) << json;
  EXPECT_STREQ("alert",
               json_object_get_string_member(json_array_get_object_element(dialogs, 0), "kind"));
  EXPECT_STREQ("Welcome",
               json_object_get_string_member(json_array_get_object_element(dialogs, 0), "message"));
  JsonArray* forms = json_object_get_array_member(root, "forms");
  ASSERT_EQ(1u, json_array_get_length(forms));
  JsonObject* form = json_array_get_object_element(forms, 0);
  EXPECT_EQ(0, json_object_get_int_member(form, "position"));
  EXPECT_STREQ("get", json_object_get_string_member(form, "method"));
  EXPECT_TRUE(server.RequestsTo("/x").empty());  // nothing is ever sent
}

TEST_F(PageInspectTest, TheToolWithoutADisplayRunsOnAnXvfbOfItsOwn) {
  server.Serve("/plain", "<html><body><form action='/p'><input name='a'></form></body></html>");
  const std::string url = server.Url("/plain");
  const char* argv[] = {VELTRANE_ADMIN_EXECUTABLE,
                        "page",
                        "inspect",
                        url.c_str(),
                        "--json",
                        "--settle",
                        "300",
                        nullptr};
  g_auto(GStrv) environment = g_environ_unsetenv(g_get_environ(), "DISPLAY");
  g_autofree gchar* out = nullptr;
  g_autofree gchar* err = nullptr;
  gint status = 0;
  ASSERT_TRUE(g_spawn_sync(nullptr, const_cast<gchar**>(argv), environment, G_SPAWN_DEFAULT,
                           nullptr, nullptr, &out, &err, &status, nullptr));
  ASSERT_TRUE(g_spawn_check_wait_status(status, nullptr)) << err;
  g_autoptr(JsonParser) parser = json_parser_new();
  ASSERT_TRUE(json_parser_load_from_data(parser, out, -1, nullptr)) << out;
  JsonArray* forms =
      json_object_get_array_member(json_node_get_object(json_parser_get_root(parser)), "forms");
  ASSERT_EQ(1u, json_array_get_length(forms)) << out;
  JsonArray* names =
      json_object_get_array_member(json_array_get_object_element(forms, 0), "controlNames");
  ASSERT_EQ(1u, json_array_get_length(names));
  EXPECT_STREQ("a", json_array_get_string_element(names, 0));
}

TEST_F(PageInspectTest, OnlyAddressesTheServiceOpensAreInspected) {
  std::ostringstream out, err;
  try {
    authoring::RunPageInspect({".", {}, out, err}, {"file:///etc/passwd"});
    FAIL() << "a file address was inspected";
  } catch (const CommandError& error) {
    EXPECT_EQ(kExitUsage, error.ExitCode());
    EXPECT_STREQ("page inspect: the service opens http and https addresses only", error.what());
  }
}

TEST_F(PageInspectTest, AnAddressThatDoesNotLoadPrintsTheErrorAndFails) {
  std::string refused;
  {
    RecordingHttpServer gone;
    refused = gone.Url("/login");
  }
  std::ostringstream out, err;
  try {
    authoring::RunPageInspect({".", {}, out, err}, {refused, "--settle", "300"});
    FAIL() << "an address that did not load was inspected: " << out.str();
  } catch (const CommandError& error) {
    EXPECT_EQ(kExitSiteFailed, error.ExitCode());
    const std::string message = error.what();
    EXPECT_TRUE(message.starts_with("page inspect: " + refused + " did not load: ")) << message;
    EXPECT_NE(std::string::npos, message.find("Connection refused")) << message;
  }
  EXPECT_NE(std::string::npos, out.str().find("\nnetwork error: ")) << out.str();
}

// A page whose values carry terminal controls: an OSC 52 clipboard write and a
// CSI sequence (set by script), C1 controls (by script and as raw UTF-8), DEL.
constexpr char kControlsPage[] =
    "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body>"
    "<form action='/x'><input name='q'><select name='s'>"
    "<option value='v\xc2\x9d'>a</option></select></form><script>"
    "const f = document.forms[0];"
    "f.elements[0].value = '\\u001b]52;c;SGVsbG8=\\u0007\\u001b[2J';"
    "f.elements[0].name = 'q\\u009b31m';"
    "f.elements[1].options[0].text = 'T\\u0090x\\u007f';"
    "alert('\\u001b]0;title\\u0007');"
    "</script></body></html>";

// What no output may hold: a C0 control but tab and line feed, DEL, or a C1 control.
std::string RawControlIn(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7f)
      return "byte " + std::to_string(c) + " at " + std::to_string(i);
    if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9f)
      return "C1 control at " + std::to_string(i);
  }
  return {};
}

TEST_F(PageInspectTest, ThePagesControlsAreEscapedInTextAndJson) {
  server.Serve("/controls", kControlsPage);
  std::ostringstream out, err;
  authoring::RunPageInspect({".", {}, out, err},
                            {server.Url("/controls"), "--json", "--settle", "300"});
  const std::string json = out.str();
  EXPECT_EQ("", RawControlIn(json));
  // Escaped as JSON escapes: the values read back as the page had them.
  g_autoptr(JsonParser) parser = json_parser_new();
  ASSERT_TRUE(json_parser_load_from_data(parser, json.c_str(), -1, nullptr)) << json;
  JsonObject* form = json_array_get_object_element(
      json_object_get_array_member(json_node_get_object(json_parser_get_root(parser)), "forms"), 0);
  JsonObject* input =
      json_array_get_object_element(json_object_get_array_member(form, "elements"), 0);
  EXPECT_STREQ("\x1b]52;c;SGVsbG8=\x07\x1b[2J", json_object_get_string_member(input, "value"));
  EXPECT_STREQ(
      "q\xc2\x9b"
      "31m",
      json_object_get_string_member(input, "name"));
}

// The built tool without DISPLAY: its Xvfb takes only clients with its cookie,
// and the text it prints shows the page's controls escaped.
TEST_F(PageInspectTest, TheToolsOwnDisplayNeedsItsCookieAndItsTextHoldsNoControls) {
  // The page is held back until the tool's display has been looked at.
  std::atomic<bool> released{false};
  struct Release {
    std::atomic<bool>& flag;
    ~Release() { flag = true; }
  } release{released};
  server.Handle("/held", [&released](const httplib::Request&, httplib::Response& response) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!released && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    response.set_content(kControlsPage, "text/html; charset=utf-8");
  });
  TempDir dir;
  const std::string url = server.Url("/held");
  const std::string command = "exec \"$0\" page inspect " + url + " --settle 300 >" +
                              dir.File("out") + " 2>" + dir.File("err");
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), VELTRANE_ADMIN_EXECUTABLE, nullptr};
  g_auto(GStrv) environment = g_environ_unsetenv(g_get_environ(), "DISPLAY");
  GPid tool = 0;
  ASSERT_TRUE(g_spawn_async(nullptr, const_cast<gchar**>(argv), environment,
                            G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &tool, nullptr));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (server.RequestsTo("/held").empty() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

  const pid_t xvfb = ChildNamed(tool, "Xvfb");
  ASSERT_GT(xvfb, 0);
  const std::vector<std::string> args = CommandLineOf(xvfb);
  const auto auth = std::find(args.begin(), args.end(), "-auth");
  ASSERT_TRUE(auth != args.end() && auth + 1 != args.end()) << ::testing::PrintToString(args);
  const std::string cookie = *(auth + 1);
  const std::string folder = std::filesystem::path(cookie).parent_path().string();
  EXPECT_EQ(0600, ModeOf(cookie));
  EXPECT_EQ(0700, ModeOf(folder));
  const std::string display = DisplayOfServer(xvfb);
  ASSERT_NE("", display);
  std::ofstream(dir.File("no-cookie"));
  EXPECT_FALSE(DisplayOpensWith(display, dir.File("no-cookie")));
  EXPECT_TRUE(DisplayOpensWith(display, cookie));

  released = true;
  int status = -1;
  ASSERT_EQ(tool, waitpid(tool, &status, 0));
  g_spawn_close_pid(tool);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << FileBytes(dir.File("err"));
  EXPECT_FALSE(std::filesystem::exists(folder));  // the cookie goes with the server

  const std::string text = FileBytes(dir.File("out"));
  EXPECT_EQ("", RawControlIn(text)) << text;
  for (const char* shown :
       {"[0] input text name=\"q\\u009b31m\" value=\"\\u001b]52;c;SGVsbG8=\\u0007\\u001b[2J\"",
        "option 0: value=\"v\\u009d\" text=\"T\\u0090x\\u007f\"",
        "dialog answered: alert \"\\u001b]0;title\\u0007\""})
    EXPECT_NE(std::string::npos, text.find(shown)) << shown << "\n" << text;
}

}  // namespace
}  // namespace veltrane::testing
