// The built service keeping logins and data safe: a login goes only to the
// site's own hosts, a password fills only its own field and never shows in
// the trace, error answers, file links and broken scripts fail their site,
// schedules that would not move on are not run, a report that cannot be
// written is kept until it can, and a main database the service creates is
// private.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "admin/admin.h"
#include "tests/support/fault_harness.h"
#include "tests/support/fault_servers.h"
#include "tests/support/file_modes.h"
#include "tests/support/secret_search.h"
#include "tests/support/png_pixels.h"

namespace veltrane::testing {
namespace {

using std::chrono::seconds;
using Outcomes = std::map<std::string, std::string>;

constexpr seconds kJobBound{90};

// Runs SQL on a database file through a connection of its own, waiting out
// the service's locks.
bool RunSql(const std::string& path, const std::string& sql) {
  sqlite3* connection = nullptr;
  bool ran = sqlite3_open(path.c_str(), &connection) == SQLITE_OK;
  if (ran) {
    sqlite3_busy_timeout(connection, 30000);
    ran = sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  sqlite3_close(connection);
  return ran;
}

// A login form: fields user, pass, company and t, sent with `method` to
// `action`; `formExtra` and `buttonExtra` are further attributes of the form
// and of its submit button.
std::string LoginPage(const std::string& action, const std::string& method = "post",
                      const std::string& formExtra = "", const std::string& buttonExtra = "",
                      const std::string& charset = "utf-8") {
  return "<!DOCTYPE html><html><head><meta charset='" + charset + "'></head><body><form action='" +
         action + "' method='" + method + "' " + formExtra +
         "><input name='user'><input type='password' name='pass'><input name='company'>"
         "<input name='t'><input type='submit' value='Send' " +
         buttonExtra + "></form></body></html>";
}

// Fills every field of LoginPage; the release's values may name the password.
constexpr const char* kLoginValues =
    "user=$$username$$\npass=$$password$$\ncompany=$$company_name$$\nt=$$headline$$\n";

// Step 1 logs in through form 0 (with `extra` lines), step 2 looks for kThanks.
std::string LoginScript(const std::string& extra = "") {
  return "[STEP1]\nAPP-FormPos=0\n" + extra + kLoginValues +
         "[STEP2]\nAPP-SuccessString=" + kThanks + "\n";
}

void AddAccount(FaultHarness& harness, const std::string& site, const std::string& password) {
  harness.databases.Main("INSERT INTO account (name,username,password) VALUES (" + Quoted(site) +
                         ",'editor'," + Quoted(password) + ")");
}

std::string Param(const RecordedRequest& request, const std::string& name) {
  const auto found = request.params.find(name);
  return found == request.params.end() ? "<none>" : found->second;
}

std::string Header(const RecordedRequest& request, const std::string& name) {
  const auto found = request.headers.find(name);
  return found == request.headers.end() ? "<none>" : found->second;
}

// The spooled statements in db/.
std::vector<std::string> SpoolFiles(const FaultHarness& harness) {
  std::vector<std::string> files;
  for (const auto& entry :
       std::filesystem::directory_iterator(harness.databases.Directory() + "/db"))
    if (entry.path().filename().string().rfind("spooled-", 0) == 0)
      files.push_back(entry.path().string());
  return files;
}

// 127.0.0.1 and localhost are one server but two hosts: the login may go to
// the second only when the script names it.
TEST(FaultSafety, LoginGoesOnlyToTheSitesHostsAndStaysOutOfTheTrace) {
  FaultHarness harness;
  const std::string elsewhere = "http://localhost:" + std::to_string(harness.server.Port());
  harness.server.Handle("/redirected/",
                        [elsewhere](const httplib::Request&, httplib::Response& response) {
                          response.set_redirect(elsewhere + "/redirected/login");
                        });
  harness.server.Serve("/redirected/login", LoginPage("/redirected/post"));
  harness.server.Serve("/redirected/post", kThanks);
  harness.AddSite("redirected", harness.server.Url("/redirected/"), LoginScript());
  for (const std::string site : {"foreign-action", "named-host"}) {
    harness.server.Serve("/" + site + "/", LoginPage(elsewhere + "/" + site + "/post"));
    harness.server.Serve("/" + site + "/post", kThanks);
  }
  harness.AddSite("foreign-action", harness.server.Url("/foreign-action/"), LoginScript());
  harness.AddSite("named-host", harness.server.Url("/named-host/"),
                  LoginScript("APP-CredentialHosts=localhost\n"));
  // A login sent with GET puts the password into every later address.
  harness.server.Serve("/get-login/", LoginPage("/get-login/welcome", "get"));
  const std::map<std::string, std::string> passwords = {{"redirected", "Redirected pw 1"},
                                                        {"foreign-action", "Action pw 2"},
                                                        {"named-host", "Named pw 3"},
                                                        {"get-login", "Pw 7&k/q:x"}};
  harness.server.Serve("/get-login/welcome",
                       "<html><body><a href='/get-login/done?pass=" +
                           PercentEncoded(passwords.at("get-login"), true, true, true) +
                           "'>Go on</a></body></html>");
  harness.server.Serve("/get-login/done", std::string(kThanks) + " for logging in");
  harness.AddSite("get-login", harness.server.Url("/get-login/"),
                  "[STEP1]\nAPP-FormPos=0\n" + std::string(kLoginValues) +
                      "[STEP2]\nAPP-SearchLinkPattern=done\n[STEP3]\nAPP-SuccessString=" + kThanks +
                      "\n");
  for (const auto& [site, password] : passwords) AddAccount(harness, site, password);
  // Values of the release that name the password stay as they are written.
  harness.databases.Main(
      "INSERT INTO pressrelease (name,contact_data,headline) VALUES "
      "('Login safety','company_name=$$password$$\r\n','News $$password$$')");
  const std::vector<std::string> sites = {"redirected", "foreign-action", "named-host",
                                          "get-login"};
  harness.AddSchedule(1, "Login safety", sites);
  harness.AddSentinel();

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));

  EXPECT_EQ((Outcomes{{"redirected", "Login form on another host (localhost)"},
                      {"foreign-action", "Login form on another host (localhost)"},
                      {"named-host", "Completed"},
                      {"get-login", "Completed"}}),
            harness.Outcomes("Login safety"))
      << harness.Report("Login safety");
  EXPECT_GT(harness.Requests("/redirected/login"), 0) << "the redirect was not followed";
  EXPECT_EQ(0, harness.Requests("/redirected/post"));
  EXPECT_EQ(0, harness.Requests("/foreign-action/post"));

  const auto named = harness.server.RequestsTo("/named-host/post");
  ASSERT_EQ(1u, named.size());
  EXPECT_EQ("POST", named[0].method);
  EXPECT_EQ(0u, Header(named[0], "Host").rfind("localhost:", 0)) << Header(named[0], "Host");
  EXPECT_EQ("Named pw 3", Param(named[0], "pass"));
  EXPECT_EQ("$$password$$", Param(named[0], "company"));
  EXPECT_EQ("News $$password$$", Param(named[0], "t"));

  const auto welcome = harness.server.RequestsTo("/get-login/welcome");
  ASSERT_EQ(1u, welcome.size());
  EXPECT_EQ(passwords.at("get-login"), Param(welcome[0], "pass"));
  EXPECT_EQ("$$password$$", Param(welcome[0], "company"));
  EXPECT_EQ(1, harness.Requests("/get-login/done"));
  const std::string trace = harness.Trace();
  for (const auto& [site, password] : passwords) {
    for (const std::string& spelling : {password, PercentEncoded(password, true, true, true),
                                        PercentEncoded(password, true, false, true)})
      EXPECT_EQ(std::string::npos, trace.find(spelling)) << site << ": " << spelling;
  }
  EXPECT_GT(harness.TraceCount("/get-login/welcome?user=editor&pass=***"), 0);
  EXPECT_GT(harness.TraceCount("/get-login/done?pass=***"), 0);
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
  EXPECT_TRUE(harness.KillLeavesNothing());
}

// Whatever the page does once the login form is read (a button's own
// formaction, a submit handler that rewrites the action, a redirect that
// re-sends the post), the request is refused before it leaves for another
// host. A host under the site's own domain still gets the login.
TEST(FaultSafety, LoginIsRefusedAtTheRequestThatWouldTakeItElsewhere) {
  FaultHarness harness;
  const std::string port = std::to_string(harness.server.Port());
  const std::string elsewhere = "http://localhost:" + port;
  const auto redirectTo = [&](const std::string& path, int status) {
    harness.server.Handle(path, [=](const httplib::Request& request, httplib::Response& response) {
      const std::string query = request.target.find('?') == std::string::npos
                                    ? ""
                                    : request.target.substr(request.target.find('?'));
      response.status = status;
      response.set_header("Location", elsewhere + path + "/stolen" + query);
    });
  };
  harness.server.Serve("/formaction/",
                       LoginPage("/formaction/post", "post", "",
                                 "formaction='" + elsewhere + "/formaction/stolen'"));
  harness.server.Serve("/onsubmit/",
                       LoginPage("/onsubmit/post", "post",
                                 "onsubmit=\"this.action='" + elsewhere + "/onsubmit/stolen'\""));
  harness.server.Serve("/r307/", LoginPage("/r307/post"));
  redirectTo("/r307/post", 307);
  harness.server.Serve("/r308/", LoginPage("/r308/post"));
  redirectTo("/r308/post", 308);
  harness.server.Serve("/g302/", LoginPage("/g302/post", "get"));
  redirectTo("/g302/post", 302);
  // The site lives on localhost; its login form posts to login.localhost.
  harness.server.Serve("/subdomain/",
                       LoginPage("http://login.localhost:" + port + "/subdomain/post"));
  harness.server.Serve("/subdomain/post", kThanks);
  const std::vector<std::string> sites = {"formaction", "onsubmit", "r307",
                                          "r308",       "g302",     "subdomain"};
  for (const std::string& site : sites) {
    const std::string start = "/" + site + "/";
    harness.AddSite(site, site == "subdomain" ? elsewhere + start : harness.server.Url(start),
                    LoginScript());
    AddAccount(harness, site, "Pw " + site + " 9&x");
  }
  harness.databases.Main("INSERT INTO pressrelease (name,headline) VALUES ('Login hosts','News')");
  harness.AddSchedule(1, "Login hosts", sites);
  harness.AddSentinel();

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));

  const std::string refused = "Login form on another host (localhost)";
  EXPECT_EQ((Outcomes{{"formaction", refused},
                      {"onsubmit", refused},
                      {"r307", refused},
                      {"r308", refused},
                      {"g302", refused},
                      {"subdomain", "Completed"}}),
            harness.Outcomes("Login hosts"))
      << harness.Report("Login hosts");
  for (const std::string site : {"formaction", "onsubmit", "r307", "r308", "g302"})
    EXPECT_EQ(
        0, harness.Requests("/" + site + "/post/stolen") + harness.Requests("/" + site + "/stolen"))
        << site;
  EXPECT_EQ(1, harness.Requests("/r307/post"));
  EXPECT_EQ(1, harness.Requests("/g302/post"));
  const auto sub = harness.server.RequestsTo("/subdomain/post");
  ASSERT_EQ(1u, sub.size());
  EXPECT_EQ(0u, Header(sub[0], "Host").rfind("login.localhost:", 0)) << Header(sub[0], "Host");
  EXPECT_EQ("Pw subdomain 9&x", Param(sub[0], "pass"));
  for (const std::string& site : sites)
    EXPECT_EQ(std::string::npos, harness.Trace().find("Pw " + site)) << site;
  EXPECT_TRUE(harness.KillLeavesNothing());
}

// Only what came from outside the service has the password taken out: a
// one-letter password leaves the service's own texts whole, and a password
// sent in a page's legacy encoding is hidden in that encoding as well.
TEST(FaultSafety, RedactionHidesEveryEncodingOfThePasswordAndNoneOfTheServicesWords) {
  FaultHarness harness;
  harness.server.Serve("/short/", LoginPage("/short/post"));
  harness.server.Serve("/short/post", "Sorry, closed");
  harness.AddSite("short", harness.server.Url("/short/"), LoginScript());
  AddAccount(harness, "short", "g");
  // windows-1252 holds the "ä" and the euro sign; the "ł" goes as a character reference.
  const std::string password = "P\xC3\xA4ss w\xE2\x82\xAC\xC5\x82";
  harness.server.Serve("/latin/", LoginPage("/latin/welcome", "get", "", "", "iso-8859-1"),
                       "text/html; charset=iso-8859-1");
  harness.server.Serve("/latin/welcome", "Not yet", "text/html; charset=iso-8859-1");
  harness.AddSite("latin", harness.server.Url("/latin/"), LoginScript());
  AddAccount(harness, "latin", password);
  harness.databases.Main("INSERT INTO pressrelease (name,headline) VALUES ('Encodings','News')");
  harness.AddSchedule(1, "Encodings", {"short", "latin"});

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Encodings", 1, kJobBound));

  const std::string notFound = "Submission failed (success string not found)";
  EXPECT_EQ((Outcomes{{"short", notFound}, {"latin", notFound}}), harness.Outcomes("Encodings"))
      << harness.Report("Encodings");
  EXPECT_GT(harness.TraceCount("Success string not found"), 1);
  EXPECT_GT(harness.TraceCount("Check for success string : Thank you"), 1);

  const auto sent = harness.server.RequestsTo("/latin/welcome");
  ASSERT_EQ(1u, sent.size());
  const std::string lastUrl =
      harness.databases.MainScalar("SELECT last_url FROM job_site WHERE site = 'latin'");
  EXPECT_NE(std::string::npos, lastUrl.find("pass=***&")) << lastUrl;
  const std::string latin = "P\xE4ss w\x80&#322;";
  const std::string trace = harness.Trace();
  for (const std::string& spelling :
       {password, latin, PercentEncoded(latin, true, true, true),
        PercentEncoded(latin, true, false, true), std::string("P%E4ss"), std::string("P%e4ss")}) {
    EXPECT_EQ(std::string::npos, trace.find(spelling)) << spelling;
    EXPECT_EQ(std::string::npos, lastUrl.find(spelling)) << spelling;
  }
  EXPECT_GT(harness.TraceCount("/latin/welcome?user=editor&pass=***&"), 0);
}

// The text `text` in ASCII lower case, for searches that ignore A-Z case.
std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// `text` with the first `what` replaced by `with`.
std::string Replaced(const std::string& text, const std::string& what, const std::string& with) {
  const std::size_t at = text.find(what);
  return at == std::string::npos ? text : text.substr(0, at) + with + text.substr(at + what.size());
}

// The picture the service kept of `site`'s failed page.
std::string ShotOf(const FaultHarness& harness, const std::string& site) {
  for (const auto& entry :
       std::filesystem::directory_iterator(harness.databases.Directory() + "/shots"))
    if (entry.path().string().ends_with("-" + site + ".png")) return entry.path().string();
  return "";
}

// Passwords spelled as pages and browsers spell them again: a host label
// (lower case), encodeURIComponent, a "%" left raw in an address, and one
// that is a word of the script's success text. None of them shows in the
// trace, the sites' rows, the report or 'history show'; stars beside a word
// of the script would give the last away, so what holds it is withheld whole.
// A failure screenshot of a form whose login went into text controls shows
// them as empty as a site that filled no login leaves them.
TEST(FaultSafety, NoSpellingOfThePasswordIsKeptOrPrintedNorDrawnInAScreenshot) {
  FaultHarness harness;
  const std::string port = std::to_string(harness.server.Port());
  const std::map<std::string, std::string> passwords = {{"host-label", "HostPWQ7"},
                                                        {"uri-component", "Ab/cd!9z"},
                                                        {"raw-percent", "50% of|it"},
                                                        {"script-word", "Thank"},
                                                        {"shown-login", "Shown pw 5"}};
  // The login goes to a host named with the password.
  harness.server.Serve("/host-label/",
                       LoginPage("/host-label/post", "post",
                                 "onsubmit=\"this.action='http://'+this.pass.value+'.localhost:" +
                                     port + "/host-label/post'\""));
  // The server answers the login with an address that holds it.
  const auto echo = [&](const std::string& site, std::function<std::string(std::string)> spell) {
    harness.server.Serve("/" + site + "/", LoginPage("/" + site + "/post"));
    harness.server.Handle("/" + site + "/post", [site, spell](const httplib::Request& request,
                                                              httplib::Response& answer) {
      answer.status = 302;
      answer.set_header("Location",
                        "/" + site + "/done?k=" + spell(request.get_param_value("pass")));
    });
    harness.server.Serve("/" + site + "/done", "Sorry");
  };
  echo("uri-component", [](const std::string& pw) { return Replaced(pw, "/", "%2F"); });
  echo("raw-percent", [](const std::string& pw) { return Replaced(pw, " ", "%20"); });
  // Sent with GET: the password is in the address of the answer.
  harness.server.Serve("/script-word/", LoginPage("/script-word/post", "get"));
  harness.server.Serve("/script-word/post", "Sorry");
  for (const std::string site : {"host-label", "uri-component", "raw-percent", "script-word"})
    harness.AddSite(site, harness.server.Url("/" + site + "/"), LoginScript());
  // The same form twice, its submission refused by the page: once with the
  // login, once without.
  const std::string textLogin =
      "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body><form action='/x' "
      "method='post' onsubmit='return false'><input name='user'><input name='pass'>"
      "<input name='company'><input name='t'><input type='submit' value='Send'></form></body>"
      "</html>";
  harness.server.Serve("/shown-login/", textLogin);
  harness.server.Serve("/shown-blank/", textLogin);
  harness.AddSite("shown-login", harness.server.Url("/shown-login/"), LoginScript());
  harness.AddSite("shown-blank", harness.server.Url("/shown-blank/"),
                  "[STEP1]\nAPP-FormPos=0\nt=$$headline$$\n[STEP2]\nAPP-SuccessString=" +
                      std::string(kThanks) + "\n");
  for (const auto& [site, password] : passwords) AddAccount(harness, site, password);
  harness.databases.Main("INSERT INTO pressrelease (name,headline) VALUES ('Spellings','News')");
  harness.AddSchedule(
      1, "Spellings",
      {"host-label", "uri-component", "raw-percent", "script-word", "shown-login", "shown-blank"});

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Spellings", 1, kJobBound));

  const std::string notFound = "Submission failed (success string not found)";
  EXPECT_EQ((Outcomes{{"host-label", "Login form on another host (***.localhost)"},
                      {"uri-component", notFound},
                      {"raw-percent", notFound},
                      {"script-word", notFound},
                      {"shown-login", "Nothing happened after submit"},
                      {"shown-blank", "Nothing happened after submit"}}),
            harness.Outcomes("Spellings"))
      << harness.Report("Spellings");
  // The answers' addresses held the password.
  const auto uri = harness.server.RequestsTo("/uri-component/done");
  ASSERT_EQ(1u, uri.size());
  EXPECT_EQ("Ab/cd!9z", Param(uri[0], "k"));
  EXPECT_EQ(1, harness.Requests("/raw-percent/done"));

  const std::string rows = harness.databases.MainScalar(
      "SELECT group_concat(site || ' | ' || reason || ' | ' || last_url || ' | ' || "
      "ifnull(success_text, '') || ' | ' || ifnull(notes, '') || ' | ' || "
      "ifnull(network_error, ''), char(10)) FROM job_site");
  std::istringstream in;
  std::ostringstream shown, err;
  ASSERT_EQ(0, admin::RunAdmin({"--dir", harness.databases.Directory(), "history", "show",
                                harness.databases.MainScalar("SELECT max(id) FROM history")},
                               {in, shown, err}))
      << err.str();
  const std::map<std::string, std::string> kept = {{"trace", harness.Trace()},
                                                   {"job_site", rows},
                                                   {"report", harness.Report("Spellings")},
                                                   {"history show", shown.str()}};
  for (const auto& [where, text] : kept) {
    for (const auto& [site, password] : passwords) {
      if (site == "script-word") continue;  // "Thank you" is the success text of every site
      std::vector<std::string> spellings = SecretSpellings(password);
      spellings.insert(spellings.end(), {"Ab%2Fcd!9z", "50%%20of|it"});
      for (const std::string& spelling : spellings)
        EXPECT_EQ(std::string::npos, Lower(text).find(Lower(spelling)))
            << where << " holds " << spelling << ":\n"
            << text;
    }
    EXPECT_EQ(std::string::npos, Lower(text).find("pass=thank")) << where << ":\n" << text;
    EXPECT_EQ(std::string::npos, text.find("*** you")) << where << ":\n" << text;
  }
  EXPECT_NE(std::string::npos, rows.find("/uri-component/done?k=*** | Thank you")) << rows;
  EXPECT_NE(std::string::npos, rows.find("/raw-percent/done?k=*** | Thank you")) << rows;
  const std::string withheld = "(hidden: it holds the login)";
  EXPECT_NE(std::string::npos,
            rows.find("script-word | " + notFound + " | " + withheld + " | " + withheld))
      << rows;
  EXPECT_NE(std::string::npos, shown.str().find("success text: \"" + withheld + "\" looked for"))
      << shown.str();
  EXPECT_GT(harness.TraceCount("Check for success string : " + withheld), 0);
  EXPECT_GT(harness.TraceCount("Login form on another host (***.localhost)"), 0);

  const std::string filled = Pixels(ShotOf(harness, "shown-login"));
  ASSERT_FALSE(filled.empty());
  EXPECT_TRUE(filled == Pixels(ShotOf(harness, "shown-blank")))
      << "the login is drawn in " << ShotOf(harness, "shown-login");
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultSafety, ErrorAnswersFileLinksAndBrokenScriptsFailTheSite) {
  FaultHarness harness;
  for (const int status : {404, 500}) {
    const std::string site = "http-" + std::to_string(status);
    harness.server.Serve("/" + site + "/", FormPage("/" + site + "/post"));
    harness.server.Serve("/" + site + "/post", "<html><body>No such thing</body></html>",
                         "text/html", status);
    // The submission is the last step: nothing after it checks the answer.
    harness.AddSite(site, harness.server.Url("/" + site + "/"),
                    "[STEP1]\nAPP-FormPos=0\nt=$$headline$$\n");
  }
  const std::string secret = "Notes-content-5e1f";
  const std::string file = harness.databases.Directory() + "/notes.txt";
  std::ofstream(file) << secret << "\n";
  const std::string after = "[STEP2]\nAPP-SuccessString=" + std::string(kThanks) + "\n";
  harness.server.Serve("/file-goto/", "<html><body>Start</body></html>");
  harness.AddSite("file-goto", harness.server.Url("/file-goto/"),
                  "[STEP1]\nAPP-GotoLink=file://" + file + "\n" + after);
  harness.server.Serve("/file-search/",
                       "<html><body><a href='file://" + file + "'>Our notes</a></body></html>");
  harness.AddSite("file-search", harness.server.Url("/file-search/"),
                  "[STEP1]\nAPP-SearchLinkPattern=notes.txt\n" + after);
  harness.server.Serve("/nul-script/", FormPage("/nul-script/post"));
  harness.server.Serve("/nul-script/post", kThanks);
  harness.databases.Subscription(
      "INSERT INTO subscription (name,url,submission_data) VALUES ('nul-script'," +
      Quoted(harness.server.Url("/nul-script/")) + "," + Quoted(FormScript()) +
      " || char(0) || '[STEP3]')");
  harness.AddFormSite("ok");
  const std::vector<std::string> sites = {"http-404",   "http-500",    "file-goto",
                                          "nul-script", "file-search", "ok"};
  harness.AddSchedule(1, "Unsafe ends", sites);
  harness.AddSentinel();

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));

  EXPECT_EQ((Outcomes{{"http-404", "HTTP 404 on " + harness.server.Url("/http-404/post")},
                      {"http-500", "HTTP 500 on " + harness.server.Url("/http-500/post")},
                      {"file-goto", "Timeout"},
                      {"file-search", "Timeout"},
                      {"nul-script", "Site script contains a NUL byte"},
                      {"ok", "Completed"}}),
            harness.Outcomes("Unsafe ends"))
      << harness.Report("Unsafe ends");
  for (const char* path : {"/http-404/post", "/http-500/post"})
    EXPECT_EQ(1, harness.Requests(path)) << path;
  EXPECT_EQ(1, harness.Requests("/file-search/"));
  EXPECT_EQ(0, harness.Requests("/nul-script/"));
  EXPECT_EQ(0, harness.Requests("/nul-script/post"));
  EXPECT_EQ(std::string::npos, harness.Report("Unsafe ends").find(secret));
  EXPECT_EQ(0, harness.TraceCount(secret));
  EXPECT_EQ(1, harness.HistoryRows("Sentinel"));
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
  EXPECT_TRUE(harness.KillLeavesNothing());
}

// A schedule that would be due again at once is never run; one that is due
// again while its job still runs is not queued a second time.
TEST(FaultSafety, SchedulesRunOnlyWhenTheyMoveOnAndOnceAtATime) {
  FaultHarness harness;
  harness.AddFormSite("stuck");
  harness.AddSchedule(3, "Never moves on", {"stuck"});
  harness.AddFormSite("slow");
  harness.AddSchedule(4, "Short interval", {"slow"});
  // Schedule 4 is due again 0.0001 days (8.64 s) after it was taken.
  harness.databases.Main(
      "UPDATE schedule SET frequency = 9, time = 0 WHERE id = 3;"
      "UPDATE schedule SET frequency = 9, time = 0.0001 WHERE id = 4");
  HeldResponse slow(harness.server, "/slow/", FormPage("/slow/post"));
  const auto nextRun = [&] {
    return harness.databases.MainScalar("SELECT next FROM schedule WHERE id = 4");
  };

  // The held page must not time out before the schedule is due again.
  harness.Start(60000);
  ASSERT_TRUE(harness.WaitFor([&] { return harness.Requests("/slow/") > 0; }));
  const std::string taken = nextRun();
  ASSERT_TRUE(harness.WaitFor([&] { return nextRun() != taken; }, seconds(60)))
      << "schedule 4 did not come due again while its job ran";
  slow.Open();
  ASSERT_TRUE(harness.WaitForHistory("Short interval", 1, kJobBound));

  EXPECT_EQ(1, harness.TraceCount("Submission started for ID : 4"));
  EXPECT_EQ("1", harness.databases.MainScalar(
                     "SELECT count(*) FROM job WHERE schedule_id = 4 AND queued <= "
                     "(SELECT min(finished) FROM job WHERE schedule_id = 4)"))
      << "schedule 4 was queued again while its job ran";
  EXPECT_EQ(1, harness.Requests("/slow/post"));
  EXPECT_EQ(1, harness.TraceCount("is invalid"));
  EXPECT_EQ(1, harness.TraceCount("Schedule 3 is invalid"));
  EXPECT_EQ(0, harness.TraceCount("Submission started for ID : 3"));
  EXPECT_EQ(0, harness.HistoryRows("Never moves on"));
  EXPECT_EQ(0, harness.Requests("/stuck/"));
  EXPECT_EQ(1.0, std::stod(harness.databases.MainScalar("SELECT next FROM schedule WHERE id = 3")));
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultSafety, ReportIsSpooledUntilTheHistoryTableIsBack) {
  std::mutex mutex;  // before the harness: its server's handler uses them
  bool movedAway = false;
  FaultHarness harness;
  harness.AddFormSite("first");
  harness.server.Serve("/last/", FormPage("/last/post"));
  // The job's last site ends with the history table gone.
  harness.server.Handle("/last/post", [&](const httplib::Request&, httplib::Response& response) {
    std::lock_guard guard(mutex);
    movedAway = RunSql(harness.databases.MainPath(), "ALTER TABLE history RENAME TO history_away");
    response.set_content(kThanks, "text/html");
  });
  harness.AddSite("last", harness.server.Url("/last/"), FormScript());
  harness.AddSchedule(1, "Spooled report", {"first", "last"});

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitFor([&] { return !SpoolFiles(harness).empty(); }, kJobBound));
  {
    std::lock_guard guard(mutex);
    ASSERT_TRUE(movedAway);
  }
  const std::vector<std::string> spooled = SpoolFiles(harness);
  ASSERT_EQ(1u, spooled.size());
  EXPECT_EQ(0600, ModeOf(spooled[0])) << spooled[0];
  EXPECT_EQ("0", harness.databases.MainScalar("SELECT count(*) FROM history_away"));

  ASSERT_TRUE(RunSql(harness.databases.MainPath(), "ALTER TABLE history_away RENAME TO history"));
  ASSERT_TRUE(harness.WaitFor([&] { return SpoolFiles(harness).empty(); }, kJobBound));

  EXPECT_EQ(1, harness.HistoryRows("Spooled report"));
  EXPECT_EQ("1", harness.databases.MainScalar("SELECT count(*) FROM history"));
  EXPECT_EQ((Outcomes{{"first", "Completed"}, {"last", "Completed"}}),
            harness.Outcomes("Spooled report"));
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultSafety, MainDatabaseTheServiceCreatesIsPrivate) {
  FaultHarness harness;
  const std::string path = harness.databases.MainPath();
  {
    // Under the usual umask SQLite would create the file 0644.
    ScopedUmask umask(022);
    harness.Start(3000);
  }
  // Without its main file the service does not start; taken away later, the
  // next poll finds no schedule table, whether or not it made the file.
  ASSERT_TRUE(harness.WaitUntilShown());
  std::filesystem::remove(path);
  ASSERT_TRUE(
      harness.WaitFor([&] { return harness.TraceCount("Schedule poll failed") > 0; }, seconds(60)));
  if (std::filesystem::exists(path)) {
    EXPECT_EQ(0600, ModeOf(path));
  }
  EXPECT_TRUE(harness.service.Running());
  EXPECT_TRUE(harness.KillLeavesNothing());
}

}  // namespace
}  // namespace veltrane::testing
