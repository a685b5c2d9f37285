// The built service keeps nothing of a job on disk but what it writes itself:
// after logins sent with GET (the password in the address, from a UTF-8 and
// from an ISO-8859-1 page), no file under its home, cache, data and config
// folders, nor beside it (its database files aside), holds the password in
// any spelling; and what it writes itself is private.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/fault_harness.h"
#include "tests/support/file_modes.h"
#include "tests/support/secret_search.h"
#include "tests/support/temp_dir.h"

namespace veltrane::testing {
namespace {

// Non-ASCII, a blank, and characters that addresses and forms escape; the
// euro sign has a byte in windows-1252 but none in ISO-8859-1 proper.
constexpr const char* kPassword = "P\xc3\xa4ss w0rd&\xe2\x82\xac/1";

// A login form sending user and pass with GET to `action`, in no charset of its own.
std::string GetLoginPage(const std::string& action) {
  return "<html><body><form action='" + action +
         "' method='get'><input name='user'><input type='password' name='pass'>"
         "<input type='submit' value='Log in'></form></body></html>";
}

// What `folder` holds, one "mode path" line each, but for the paths that
// start with `skipped` (relative to the folder).
std::string Listing(const std::string& folder, const std::string& skipped) {
  std::string listing;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
    const std::string relative = entry.path().lexically_relative(folder).string();
    if (relative.rfind(skipped, 0) == 0) continue;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", ModeOf(entry.path().string()));
    listing += std::string(mode) + " " + relative + "\n";
  }
  return listing;
}

TEST(FaultDisk, NothingOfAGetLoginIsKeptOnDiskAndScreenshotsArePrivate) {
  TempDir home;
  FaultHarness harness;
  const std::vector<std::pair<std::string, std::string>> charsets = {{"utf8-login", "utf-8"},
                                                                     {"latin-login", "iso-8859-1"}};
  for (const auto& [site, charset] : charsets) {
    harness.server.Serve("/" + site + "/", GetLoginPage("/" + site + "/welcome"),
                         "text/html; charset=" + charset);
    // Answered as most sites answer, with nothing that forbids keeping it.
    harness.server.Handle("/" + site + "/welcome",
                          [](const httplib::Request&, httplib::Response& response) {
                            response.set_content(std::string(kThanks) + ", editor", "text/html");
                          });
    harness.AddSite(site, harness.server.Url("/" + site + "/"),
                    "[STEP1]\nAPP-FormPos=0\nuser=$$username$$\npass=$$password$$\n[STEP2]\n"
                    "APP-SuccessString=" +
                        std::string(kThanks) + "\n");
    harness.databases.Main("INSERT INTO account (name,username,password) VALUES (" + Quoted(site) +
                           ",'editor'," + Quoted(kPassword) + ")");
  }
  // A site that refuses the release: its page is kept as a screenshot.
  harness.server.Serve("/refused/", FormPage("/refused/post"));
  harness.server.Serve("/refused/post", "Submissions are closed");
  harness.AddSite("refused", harness.server.Url("/refused/"), FormScript());
  // A page that never ends: the job goes on until the page timer ends it,
  // which leaves WebKit seconds to write what it keeps of the logins.
  harness.server.ServeStalled("/stalled/", "<html><body>Loading");
  harness.AddSite("stalled", harness.server.Url("/stalled/"), FormScript());
  harness.AddSchedule(1, "Logins", {"utf8-login", "latin-login", "refused", "stalled"});

  {
    ScopedUmask umask(022);
    harness.Start(3000, 1000,
                  {{"HOME", home.File("home")},
                   {"XDG_CACHE_HOME", home.File("cache")},
                   {"XDG_DATA_HOME", home.File("data")},
                   {"XDG_CONFIG_HOME", home.File("config")}});
  }
  ASSERT_TRUE(harness.WaitForHistory("Logins", 1, std::chrono::seconds(90)));
  ASSERT_TRUE(harness.KillLeavesNothing());

  EXPECT_EQ((std::map<std::string, std::string>{
                {"utf8-login", "Completed"},
                {"latin-login", "Completed"},
                {"refused", "Submission failed (success string not found)"},
                {"stalled", "Timeout"}}),
            harness.Outcomes("Logins"))
      << harness.Report("Logins");
  // The password went out in the address, in each page's charset.
  const std::vector<std::string> spellings = SecretSpellings(kPassword);
  for (const auto& [site, charset] : charsets) {
    const auto sent = harness.server.RequestsTo("/" + site + "/welcome");
    ASSERT_EQ(1u, sent.size()) << site;
    const auto pass = sent[0].params.find("pass");
    ASSERT_NE(sent[0].params.end(), pass) << site;
    EXPECT_NE(spellings.end(), std::find(spellings.begin(), spellings.end(), pass->second))
        << site << ": " << pass->second;
  }

  EXPECT_EQ(std::vector<SecretFound>{}, FilesHolding(home.Path(), spellings));
  // The trace (standard error, kept by the test as service.log) is not a file of the service.
  EXPECT_EQ(std::vector<SecretFound>{},
            FilesHolding(harness.databases.Directory(), spellings,
                         {"db/vt.dat", "db/subscription2.dat", "service.log"}));

  // What the service wrote beside itself (its screenshots, and what runs in
  // its runtime folder) is its user's alone; the test made the rest.
  const std::string directory = harness.databases.Directory();
  const std::vector<std::string> madeByTest = {"veltrane", "service.log", "db", "run"};
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
    const std::string relative = entry.path().lexically_relative(directory).string();
    if (std::find(madeByTest.begin(), madeByTest.end(), relative) != madeByTest.end()) continue;
    EXPECT_EQ(entry.is_directory() ? 0700 : 0600, ModeOf(entry.path().string())) << relative;
  }
  int refusedShots = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory + "/shots"))
    refusedShots += entry.path().string().ends_with("-refused.png");
  EXPECT_EQ(1, refusedShots);

  // Nothing at all is written under the home folders: no cache, cookie,
  // storage or shader file. Fontconfig caches the system's fonts there when
  // the system's own cache is stale; that is no file of a job.
  EXPECT_EQ("", Listing(home.Path(), "cache/fontconfig"));
}

}  // namespace
}  // namespace veltrane::testing
