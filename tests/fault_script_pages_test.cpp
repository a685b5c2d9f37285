// The built service on pages that scripts build and change after load: a
// page is read once the requests its load started are answered, a page that
// lacks what the step looks for is watched before the site fails, and a
// submission that stays on its page is judged where it is.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/fault_harness.h"

namespace veltrane::testing {
namespace {

// A page at /<name>/ whose body is `body`, posting to /<name>/post.
void AddScriptSite(FaultHarness& harness, const std::string& name, const std::string& body,
                   const std::string& script = FormScript()) {
  harness.server.Serve(
      "/" + name + "/",
      "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body>" + body + "</body></html>");
  harness.server.Serve("/" + name + "/post", std::string(kThanks) + " from " + name);
  harness.AddSite(name, harness.server.Url("/" + name + "/"), script);
}

// Answers `path` with `body` after a pause, as a slow script request would be.
void ServeLate(FaultHarness& harness, const std::string& path, const std::string& body) {
  harness.server.Handle(path, [body](const httplib::Request&, httplib::Response& response) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    response.set_content(body, "text/plain");
  });
}

std::string Posted(const FaultHarness& harness, const std::string& path, const std::string& key) {
  const auto requests = harness.server.RequestsTo(path);
  if (requests.empty()) return "(not posted)";
  const auto found = requests.front().params.find(key);
  return found == requests.front().params.end() ? "(missing)" : found->second;
}

// Forms, tokens and list options that arrive by the page's own requests after
// load are there when the step fills the form.
TEST(FaultScriptPages, APageIsReadOnceTheRequestsOfItsLoadAreAnswered) {
  FaultHarness harness;
  ServeLate(harness, "/fetched/form",
            "<form action='/fetched/post' method='post'><input name='t'>"
            "<input type='submit'></form>");
  AddScriptSite(harness, "fetched",
                "<div id='here'></div><script>fetch('/fetched/form').then((r) => r.text())"
                ".then((html) => { document.getElementById('here').innerHTML = html; });</script>");
  ServeLate(harness, "/token/value", "k7");
  AddScriptSite(harness, "token",
                "<form action='/token/post' method='post'><input name='t'>"
                "<input type='submit'></form><script>const x = new XMLHttpRequest();"
                "x.open('GET', '/token/value'); x.onload = () => { const i = "
                "document.createElement('input'); i.type = 'hidden'; i.name = 'token';"
                " i.value = x.responseText; document.forms[0].append(i); }; x.send();</script>");
  ServeLate(harness, "/options/list", "red,blue");
  AddScriptSite(harness, "options",
                "<form action='/options/post' method='post'><input name='t'><select name='c'>"
                "<option value=''>Choose</option></select><input type='submit'></form>"
                "<script>fetch('/options/list').then((r) => r.text()).then((list) => {"
                " for (const v of list.split(',')) document.forms[0].c.add(new Option(v, v)); });"
                "</script>",
                "[STEP1]\nAPP-FormPos=0\nt=$$headline$$\nc=blue\n[STEP2]\nAPP-SuccessString=" +
                    std::string(kThanks) + "\n");
  harness.AddSchedule(1, "Late parts", {"fetched", "token", "options"});
  harness.AddSentinel();

  harness.Start(20000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel"));

  EXPECT_EQ((std::map<std::string, std::string>{
                {"fetched", "Completed"}, {"token", "Completed"}, {"options", "Completed"}}),
            harness.Outcomes("Late parts"))
      << harness.Report("Late parts");
  EXPECT_EQ(1, harness.Requests("/fetched/post"));
  EXPECT_EQ("k7", Posted(harness, "/token/post", "token"));
  EXPECT_EQ("blue", Posted(harness, "/options/post", "c"));
}

// A form and list options that a timer adds after load are found by watching
// the page; a page that never gets its form fails on it once it is quiet, not
// by the page timer, and a list that never gets its option takes index 1.
TEST(FaultScriptPages, FormsAndOptionsThatAppearLateAreWaitedFor) {
  FaultHarness harness;
  AddScriptSite(harness, "timer",
                "<div id='here'>Loading</div><script>addEventListener('load', () => "
                "setTimeout(() => { document.getElementById('here').innerHTML = \"<form "
                "action='/timer/post' method='post'><input name='t'><input type='submit'>"
                "</form>\"; }, 200));</script>");
  AddScriptSite(harness, "never", "<p>No form, ever</p>");
  const auto listSite = [&](const std::string& name, const std::string& added) {
    AddScriptSite(harness, name,
                  "<form action='/" + name +
                      "/post' method='post'><input name='t'>"
                      "<select name='c'><option value=''>Choose</option><option value='red'>Red"
                      "</option></select><input type='submit'></form><script>setTimeout(() => "
                      "document.forms[0].c.add(new Option('" +
                      added + "', '" + added + "')), 200);</script>",
                  "[STEP1]\nAPP-FormPos=0\nt=$$headline$$\nc=blue\n[STEP2]\nAPP-SuccessString=" +
                      std::string(kThanks) + "\n");
  };
  listSite("late-option", "blue");
  listSite("no-option", "green");
  harness.AddSchedule(1, "Late forms", {"timer", "never", "late-option", "no-option"});
  harness.AddSentinel();

  harness.Start(20000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel"));

  EXPECT_EQ((std::map<std::string, std::string>{{"timer", "Completed"},
                                                {"never", "Invalid form"},
                                                {"late-option", "Completed"},
                                                {"no-option", "Completed"}}),
            harness.Outcomes("Late forms"))
      << harness.Report("Late forms");
  EXPECT_EQ(1, harness.Requests("/timer/post"));
  EXPECT_EQ(1, harness.TraceCount("Page updated in place : " + harness.server.Url("/timer/")));
  EXPECT_EQ("blue", Posted(harness, "/late-option/post", "c"));
  EXPECT_EQ("red", Posted(harness, "/no-option/post", "c"));
}

// A form sent by the page's own fetch, whose thanks the page shows in place,
// succeeds there; one that goes on with location after the answer is judged
// on the page it goes to; a click that does nothing fails at once.
TEST(FaultScriptPages, ASubmissionThatStaysOnItsPageIsJudgedThere) {
  FaultHarness harness;
  const auto sentByFetch = [](const std::string& name, const std::string& then) {
    return "<form action='/" + name +
           "/native' method='post'><input name='t'>"
           "<input type='submit'></form><p id='said'></p><script>"
           "document.forms[0].addEventListener('submit', (event) => { event.preventDefault();"
           " fetch('/" +
           name +
           "/post', {method: 'POST', body: new URLSearchParams("
           "new FormData(event.target))}).then((r) => r.text()).then((text) => { " +
           then + " }); });</script>";
  };
  AddScriptSite(harness, "in-place",
                sentByFetch("in-place", "document.getElementById('said').textContent = text;"));
  AddScriptSite(harness, "then-away", sentByFetch("then-away", "location = '/then-away/done';"));
  harness.server.Serve("/then-away/done", std::string(kThanks) + " again");
  AddScriptSite(harness, "inert",
                "<form action='/inert/post' method='post' onsubmit='return false'>"
                "<input name='t'><input type='submit'></form>");
  AddScriptSite(harness, "says-no",
                "<form action='/says-no/post' method='post' onsubmit='document.body.append("
                "\"Please try again\"); return false'><input name='t'><input type='submit'>"
                "</form>");
  harness.AddSchedule(1, "In place", {"in-place", "then-away", "inert", "says-no"});
  harness.AddSentinel();

  // A page timer far longer than the watch: "inert" must not end by it.
  harness.Start(60000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel"));

  EXPECT_EQ((std::map<std::string, std::string>{{"in-place", "Completed"},
                                                {"then-away", "Completed"},
                                                {"inert", "Nothing happened after submit"},
                                                {"says-no",
                                                 "Submission failed (success string "
                                                 "not found)"}}),
            harness.Outcomes("In place"))
      << harness.Report("In place");
  EXPECT_EQ(1, harness.Requests("/in-place/post"));
  EXPECT_EQ(0, harness.Requests("/in-place/native"));
  EXPECT_EQ(1, harness.Requests("/then-away/done"));
  EXPECT_EQ(0, harness.Requests("/inert/post"));
  EXPECT_EQ(1, harness.TraceCount("Page updated in place : " + harness.server.Url("/in-place/")));
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
}

}  // namespace
}  // namespace veltrane::testing
