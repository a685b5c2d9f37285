// The built service on pages that load badly or fight back: media, pop-ups,
// forms aimed at other windows, script dialogs, print, a page that comes
// late, a page of 20 MB, a page whose own scripts are forbidden, pages that
// move on by themselves, pages that send the browser to files to save.
// None of them may stall the job or open anything; forms still post once.
#include <gtest/gtest.h>

#include "tests/support/fault_harness.h"
#include "tests/support/secret_search.h"
#include "tests/support/temp_dir.h"

namespace veltrane::testing {
namespace {

// A form site whose page is `page` (posting to /<name>/post).
void AddPageSite(FaultHarness& harness, const std::string& name, const std::string& page,
                 const std::string& script = FormScript()) {
  harness.server.Serve("/" + name + "/", page);
  harness.server.Serve("/" + name + "/post", std::string(kThanks) + " from " + name);
  harness.AddSite(name, harness.server.Url("/" + name + "/"), script);
}

TEST(FaultPages, BadlyLoadingPagesNeitherStallTheJobNorOpenAnything) {
  FaultHarness harness;
  const auto post = [](const std::string& name) { return "/" + name + "/post"; };
  AddPageSite(harness, "media-frame",
              FormPage(post("media-frame"),
                       "<iframe src='/media-frame/movie.swf'></iframe>"
                       "<iframe src='/media-frame/still.png'></iframe>"));
  AddPageSite(harness, "pop-ups",
              FormPage(post("pop-ups"),
                       "<a id='l' target='_blank' href='/pop-ups/link'>l</a><script>"
                       "addEventListener('load', () => { window.open('/pop-ups/open');"
                       " document.getElementById('l').click(); });</script>"));
  AddPageSite(harness, "media-main", "<html><body>Pictures</body></html>",
              "[STEP1]\nAPP-GotoLink=" + harness.server.Url("/media-main/photo.JPG") +
                  "\n[STEP2]\nAPP-SuccessString=" + kThanks + "\n");
  AddPageSite(harness, "blank-form", FormPage(post("blank-form"), "", "target='_blank'"));
  AddPageSite(harness, "named-pop-up-form",
              FormPage(post("named-pop-up-form"), "", "target='helper'"));
  AddPageSite(harness, "hidden-frame-form",
              FormPage(post("hidden-frame-form"),
                       "<iframe name='sink' style='display:none'>"
                       "</iframe>",
                       "target='sink'"));
  AddPageSite(harness, "alert-loop",
              FormPage(post("alert-loop"),
                       "<script>setInterval(() => alert('again'), 20);"
                       "</script>"));
  AddPageSite(harness, "dialogs",
              "<html><body><form action='/dialogs/post' method='post'><input name='t'>"
              "<input type='hidden' name='c'><input type='hidden' name='p'></form><script>"
              "addEventListener('beforeunload', (e) => { e.preventDefault(); e.returnValue = 'x'; "
              "});"
              "addEventListener('load', () => { document.forms[0].c.value = confirm('Sure?');"
              " document.forms[0].p.value = prompt('Name?', 'dflt'); });</script></body></html>");
  AddPageSite(harness, "print",
              FormPage(post("print"),
                       "<script>addEventListener('load', () => window.print());"
                       "</script>"));
  harness.AddFormSite("after-print");
  // Its page completes, but the main thread is then busy past the deadline:
  // the page comes late, when the next site already waits for its own.
  AddPageSite(harness, "late-page",
              FormPage(post("late-page"),
                       "<script>addEventListener('load', () => setTimeout(() => {"
                       " const end = Date.now() + 5000; while (Date.now() < end) {} }, 0));"
                       "</script>"));
  harness.AddFormSite("ok");
  const std::vector<std::string> sites = {"media-frame", "pop-ups",           "media-main",
                                          "blank-form",  "named-pop-up-form", "hidden-frame-form",
                                          "alert-loop",  "dialogs",           "print",
                                          "after-print", "late-page",         "ok"};
  harness.AddSchedule(1, "Bad pages", sites);
  harness.AddSentinel();

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel"));

  std::map<std::string, std::string> expected;
  for (const std::string& site : sites) expected[site] = "Completed";
  expected["media-main"] = "Timeout";  // refused, so no page comes
  expected["late-page"] = "Timeout";
  EXPECT_EQ(expected, harness.Outcomes("Bad pages")) << harness.Report("Bad pages");
  EXPECT_EQ(1, harness.HistoryRows("Bad pages"));
  EXPECT_EQ(1, harness.HistoryRows("Sentinel"));
  for (const char* path : {"/media-frame/movie.swf", "/media-frame/still.png",
                           "/media-main/photo.JPG", "/pop-ups/open", "/pop-ups/link"})
    EXPECT_EQ(0, harness.Requests(path)) << path;
  for (const char* path : {"/pop-ups/open", "/pop-ups/link"})
    EXPECT_EQ(1, harness.TraceCount("New window refused: " + harness.server.Url(path))) << path;
  // Forms aimed at other windows post into the service's own view, once.
  for (const char* site : {"blank-form", "named-pop-up-form", "hidden-frame-form"})
    EXPECT_EQ(1, harness.Requests(post(site))) << site;
  EXPECT_EQ(1, harness.TraceCount("Print refused: " + harness.server.Url("/print/")));
  const auto dialogs = harness.server.RequestsTo("/dialogs/post");
  ASSERT_EQ(1u, dialogs.size());
  EXPECT_EQ("true", dialogs[0].params.find("c")->second);
  EXPECT_EQ("dflt", dialogs[0].params.find("p")->second);
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultPages, HeavyAndHostilePagesAreStillSubmitted) {
  FaultHarness harness;
  const auto post = [](const std::string& name) { return "/" + name + "/post"; };
  // The form first, then 20 MB of text in paragraphs of 1 KB.
  std::string paragraph = "<p>";
  while (paragraph.size() < 1024) paragraph += "Lorem ipsum dolor sit amet. ";
  paragraph += "</p>\n";
  std::string text;
  while (text.size() < (20u << 20)) text += paragraph;
  std::string big = FormPage(post("big"));
  big.insert(big.find("</body>"), text);
  AddPageSite(harness, "big", big);
  // With the page's own scripts refused, its script cannot take the form away.
  harness.server.Handle("/csp/", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Content-Security-Policy", "script-src 'none'");
    response.set_content(FormPage("/csp/post") + "<script>document.forms[0].remove();</script>",
                         "text/html");
  });
  harness.server.Serve("/csp/post", kThanks);
  harness.AddSite("csp", harness.server.Url("/csp/"), FormScript());
  const std::string afterRedirect =
      "[STEP1]\nAPP-WaitForRedirect=1\n[STEP2]\nAPP-FormPos=0\n"
      "t=$$headline$$\n[STEP3]\nAPP-SuccessString=" +
      std::string(kThanks) + "\n";
  AddPageSite(harness, "script-redirect",
              "<html><body>One moment<script>addEventListener('load', () => setTimeout(() => {"
              " location.href = '/script-redirect/final'; }, 0));</script></body></html>",
              afterRedirect);
  harness.server.Serve("/script-redirect/final", FormPage(post("script-redirect")));
  AddPageSite(harness, "meta-refresh",
              "<html><head><meta http-equiv='refresh' content='0;url=/meta-refresh/final'>"
              "</head><body>One moment</body></html>",
              afterRedirect);
  harness.server.Serve("/meta-refresh/final", FormPage(post("meta-refresh")));
  harness.AddFormSite("ok");
  const std::vector<std::string> sites = {"big", "csp", "script-redirect", "meta-refresh", "ok"};
  harness.AddSchedule(1, "Heavy pages", sites);
  harness.AddSentinel();

  // A page of 20 MB takes seconds to read: a longer page timer.
  harness.Start(30000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, std::chrono::seconds(200)));

  std::map<std::string, std::string> expected;
  for (const std::string& site : sites) expected[site] = "Completed";
  EXPECT_EQ(expected, harness.Outcomes("Heavy pages")) << harness.Report("Heavy pages");
  EXPECT_EQ(1, harness.HistoryRows("Heavy pages"));
  EXPECT_EQ(1, harness.HistoryRows("Sentinel"));
  for (const std::string& site : sites) EXPECT_EQ(1, harness.Requests(post(site))) << site;
  const auto bigPost = harness.server.RequestsTo("/big/post");
  ASSERT_EQ(1u, bigPost.size());
  EXPECT_EQ("Acme news", bigPost[0].params.find("t")->second);
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
  EXPECT_TRUE(harness.KillLeavesNothing());
}

// A login page that sends itself on by script, from its onload or from its
// head, is not judged before it leaves: step 1 finds its form on the page it
// lands on. A page that stays where it is fails on what it lacks, not by the
// page timer.
TEST(FaultPages, PagesThatMoveOnByScriptAreJudgedWhereTheyLand) {
  FaultHarness harness;
  const auto moving = [&](const std::string& site, const std::string& head,
                          const std::string& body) {
    AddPageSite(harness, site,
                "<html><head>" + head + "</head><body" + body + ">One moment</body></html>");
    harness.server.Serve("/" + site + "/real", FormPage("/" + site + "/post"));
  };
  moving("onload", "", " onload=\"location.href = '/onload/real'\"");
  moving("head", "<script>location.href = '/head/real';</script>", "");
  AddPageSite(harness, "still", "<html><body>No form here</body></html>");
  const std::vector<std::string> sites = {"onload", "head", "still"};
  harness.AddSchedule(1, "Moving pages", sites);
  harness.AddSentinel();

  // A deadline of 6 s: "still" would end by "Timeout" if it waited for it.
  harness.Start(10000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel"));

  EXPECT_EQ((std::map<std::string, std::string>{
                {"onload", "Completed"}, {"head", "Completed"}, {"still", "Invalid form"}}),
            harness.Outcomes("Moving pages"))
      << harness.Report("Moving pages");
  EXPECT_EQ(1, harness.Requests("/onload/post"));
  EXPECT_EQ(1, harness.Requests("/head/post"));
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
}

// Files to save, asked for by a frame, a link, a step's address (through a
// redirect), a site's own address and a page's script: none is saved
// anywhere, and each site goes on at once on the page the browser still shows.
TEST(FaultPages, DownloadsAreRefusedAndTheSiteGoesOn) {
  TempDir home;  // the service's home and user folders, where a saved file would land
  FaultHarness harness;
  const std::string marker = "veltrane-download-7f3a";
  const auto file = [&](const std::string& path, const std::string& body) {
    harness.server.Handle(path, [=](const httplib::Request&, httplib::Response& response) {
      const std::string name = path.substr(path.rfind('/') + 1);
      response.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
      response.set_header("Cache-Control", "no-store");
      // A type the view could show: only the attachment makes it a file to save.
      response.set_content(body, "text/plain");
    });
  };
  const std::string script = "#!/bin/sh\necho " + marker + "\n";
  const std::string launcher = "[Desktop Entry]\nType=Application\nExec=echo " + marker + "\n";
  const std::string formThenThanks =
      "[STEP2]\nAPP-FormPos=0\nt=$$headline$$\n[STEP3]\nAPP-SuccessString=" + std::string(kThanks) +
      "\n";

  // Its first page holds a frame of a file to save as well.
  AddPageSite(harness, "download-link",
              FormPage("/download-link/post",
                       "<iframe src='/download-link/readme.sh'></iframe>"
                       "<a href='/download-link/install.sh'>Install</a>"),
              "[STEP1]\nAPP-SearchLinkPattern=install.sh\n" + formThenThanks);
  file("/download-link/install.sh", script);
  file("/download-link/readme.sh", script);
  AddPageSite(harness, "download-goto", FormPage("/download-goto/post"),
              "[STEP1]\nAPP-GotoLink=" + harness.server.Url("/download-goto/latest") +
                  "\n[STEP2]\nAPP-SuccessString=" + kThanks + "\n");
  harness.server.Handle("/download-goto/latest",
                        [](const httplib::Request&, httplib::Response& response) {
                          response.set_redirect("/download-goto/launcher.desktop");
                        });
  file("/download-goto/launcher.desktop", launcher);
  // Nothing of its own is shown: the page still shown is the site before's.
  harness.AddSite("download-start", harness.server.Url("/download-start/setup.sh"), FormScript());
  file("/download-start/setup.sh", script);
  // Sends itself to a file, and moves on once the file was asked for (and
  // its refusal long decided). The refusal stops the page's loads under way,
  // so a poll that was cut short is sent again.
  AddPageSite(harness, "download-self",
              "<html><body>One moment<script>addEventListener('load', () => {"
              " location.href = '/download-self/autostart.desktop';"
              " const poll = () => fetch('/download-self/asked').then((r) => r.text()).then((t) =>"
              " t == 'yes' ? setTimeout(() => { location.href = '/download-self/form'; }, 1000)"
              " : setTimeout(poll, 100), () => setTimeout(poll, 100));"
              " poll(); });</script></body></html>",
              "[STEP1]\nAPP-WaitForRedirect=1\n" + formThenThanks);
  file("/download-self/autostart.desktop", launcher);
  harness.server.Handle(
      "/download-self/asked", [&harness](const httplib::Request&, httplib::Response& response) {
        const bool asked = !harness.server.RequestsTo("/download-self/autostart.desktop").empty();
        response.set_content(asked ? "yes" : "no", "text/plain");
      });
  harness.server.Serve("/download-self/form", FormPage("/download-self/post"));
  harness.AddFormSite("ok");
  const std::vector<std::string> sites = {"download-link", "download-goto", "download-start",
                                          "download-self", "ok"};
  harness.AddSchedule(1, "Downloads", sites);
  harness.AddSentinel();

  harness.Start(10000, 1000,
                {{"HOME", home.Path()},
                 {"XDG_CONFIG_HOME", home.File("config")},
                 {"XDG_CACHE_HOME", home.File("cache")},
                 {"XDG_DATA_HOME", home.File("data")}});
  ASSERT_TRUE(harness.WaitForHistory("Sentinel"));

  const std::string start = harness.server.Url("/download-start/setup.sh");
  EXPECT_EQ((std::map<std::string, std::string>{
                {"download-link", "Completed"},
                {"download-goto", "Submission failed (success string not found)"},
                {"download-start", "Download refused: " + start},
                {"download-self", "Completed"},
                {"ok", "Completed"}}),
            harness.Outcomes("Downloads"))
      << harness.Report("Downloads");
  for (const char* path :
       {"/download-link/readme.sh", "/download-link/install.sh", "/download-goto/launcher.desktop",
        "/download-start/setup.sh", "/download-self/autostart.desktop"})
    // Behind the stamp: the job's closing line names a failed site's reason in parentheses.
    EXPECT_EQ(1, harness.TraceCount(" Download refused: " + harness.server.Url(path))) << path;
  for (const char* site : {"download-link", "download-self"})
    EXPECT_EQ(1, harness.Requests("/" + std::string(site) + "/post")) << site;
  // The site before's form is not sent again with the next site's values.
  EXPECT_EQ(0, harness.Requests("/download-goto/post"));
  EXPECT_EQ(std::vector<SecretFound>{}, FilesHolding(home.Path(), {marker}));
  EXPECT_EQ(std::vector<SecretFound>{}, FilesHolding(harness.databases.Directory(), {marker}));
  EXPECT_EQ(1, harness.HistoryRows("Sentinel"));
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
  EXPECT_TRUE(harness.KillLeavesNothing());
}

}  // namespace
}  // namespace veltrane::testing
