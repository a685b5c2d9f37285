// The WebKit control's page model, action replay and page source, on a real
// view against pages served on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>

#include "browser/page_scripts.h"
#include "browser/page_snapshot.h"
#include "engine/navigation_guards.h"
#include "engine/page_text.h"
#include "engine/site_script.h"
#include "engine/step_engine.h"
#include "tests/support/browser_harness.h"
#include "tests/support/main_loop.h"
#include "tests/support/recording_http_server.h"

namespace veltrane::testing {
namespace {

class BrowserPageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BrowserHarness::Start(); }
  static void TearDownTestSuite() { BrowserHarness::Stop(); }
  void TearDown() override { BrowserHarness::Browser().SetEvents(nullptr); }

  RecordingHttpServer server;
  RecordingBrowserEvents events;
};

struct ElementWant {
  ElementKind kind;
  std::string name;
  std::string type;
  std::string value;
};

TEST_F(BrowserPageTest, ModelHoldsTopLevelFormsAndAnchorLinks) {
  const std::string html =
      "<html><body>"
      "<form action='/a' method='post'>"
      "<input type='text' name='company' value='ACME'>"
      "<input type='text' value='unnamed'>"
      "<input type='hidden' name='dup' value='1'><input type='hidden' name='dup' value='2'>"
      "<fieldset><input type='checkbox' name='agree' value='yes' checked></fieldset>"
      "<select name='country'><option value=''>Choose</option>"
      "<option value='de' selected>Germany</option><option value='fr'>France</option></select>"
      "<textarea name='body'>Hello</textarea>"
      "<button type='submit' name='go' value='1'>Go</button>"
      "<input type='image' name='pic' src='data:,'>"
      "</form>"
      "<form action='/b'><input name='q'></form>"
      "<a href='/rel/one'>one</a><a href='/abs'>abs</a><a href='rel/one'>dup</a><a "
      "name='x'>none</a>"
      "<map name='m'><area href='/area' shape='rect' coords='0,0,1,1'></map>"
      "<iframe src='/frame'></iframe>"
      "</body></html>";
  server.Serve("/forms/page", html);
  server.Serve("/frame",
               "<html><body><form action='/f'><input name='inframe'></form>"
               "<a href='/frame-link'>f</a></body></html>");

  const int index = BrowserHarness::LoadPage(events, server.Url("/forms/page"));
  ASSERT_GE(index, 0);
  const Page& page = events.pages[static_cast<std::size_t>(index)];

  EXPECT_EQ(server.Url("/forms/page"), page.location);
  EXPECT_EQ(html, page.source);
  EXPECT_EQ("UTF-8", page.characterSet);
  EXPECT_EQ(0u, page.bodyOuterHtml.rfind("<body>", 0)) << page.bodyOuterHtml;
  EXPECT_EQ((std::vector<std::string>{server.Url("/rel/one"), server.Url("/abs"),
                                      server.Url("/forms/rel/one")}),
            page.links);

  ASSERT_EQ(2u, page.forms.size());
  const std::vector<ElementWant> want = {
      {ElementKind::Input, "company", "text", "ACME"},
      {ElementKind::Input, "", "text", "unnamed"},
      {ElementKind::Input, "dup", "hidden", "1"},
      {ElementKind::Input, "dup", "hidden", "2"},
      {ElementKind::Other, "", "fieldset", ""},
      {ElementKind::Input, "agree", "checkbox", "yes"},
      {ElementKind::Select, "country", "select-one", "de"},
      {ElementKind::TextArea, "body", "textarea", "Hello"},
      {ElementKind::Other, "go", "submit", "1"},
      {ElementKind::Input, "pic", "image", ""},
  };
  const auto& elements = page.forms[0].elements;
  ASSERT_EQ(want.size(), elements.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(want[i].kind, elements[i].kind) << "element " << i;
    EXPECT_EQ(want[i].name, elements[i].name) << "element " << i;
    EXPECT_EQ(want[i].type, elements[i].type) << "element " << i;
    EXPECT_EQ(want[i].value, elements[i].value) << "element " << i;
  }
  EXPECT_TRUE(elements[5].checked);
  EXPECT_EQ(1, elements[6].selectedIndex);
  ASSERT_EQ(3u, elements[6].options.size());
  EXPECT_EQ("fr", elements[6].options[2].value);
  EXPECT_EQ("France", elements[6].options[2].text);
  ASSERT_EQ(1u, page.forms[1].elements.size());
  EXPECT_EQ("q", page.forms[1].elements[0].name);
}

// Controls named "action" and "method" shadow the form's own properties.
TEST_F(BrowserPageTest, FormsCarryTheirActionAndMethodAndPagesTheirHttpStatus) {
  const std::string forms =
      "<form action='/login/post?x=1' method='POST'><input name='action' value='/shadow'>"
      "<input name='method' value='get'></form>"
      "<form><input name='q'></form>"
      "<form action='http://127.0.0.1:1/other' method='get'></form>";
  server.Serve("/actions", "<html><body>" + forms + "</body></html>");
  server.Serve("/gone", "<html><body>" + forms + "</body></html>", "text/html", 404);

  const int index = BrowserHarness::LoadPage(events, server.Url("/actions"));
  ASSERT_GE(index, 0);
  const Page& page = events.pages[static_cast<std::size_t>(index)];
  EXPECT_EQ(200, page.statusCode);
  ASSERT_EQ(3u, page.forms.size());
  EXPECT_EQ(server.Url("/login/post?x=1"), page.forms[0].action);
  EXPECT_EQ("post", page.forms[0].method);
  EXPECT_EQ(server.Url("/actions"), page.forms[1].action);  // no action: the page itself
  EXPECT_EQ("get", page.forms[1].method);
  EXPECT_EQ("http://127.0.0.1:1/other", page.forms[2].action);

  const int gone = BrowserHarness::LoadPage(events, server.Url("/gone"));
  ASSERT_GE(gone, 0);
  const Page& errorPage = events.pages[static_cast<std::size_t>(gone)];
  EXPECT_EQ(404, errorPage.statusCode);
  ASSERT_EQ(3u, errorPage.forms.size());
  EXPECT_EQ(server.Url("/login/post?x=1"), errorPage.forms[0].action);
}

// Addresses other than http(s) are never loaded: those the browser is asked
// for (a site's start address) meet the guard, javascript: ones too, which
// WebKit would run in the current page without any navigation decision; the
// step engine refuses them itself as well.
TEST_F(BrowserPageTest, AddressesOfOtherSchemesAreRefused) {
  RecordingLoadingIndicator panel;
  RecordingTrace guardTrace;
  events.onBeforeNavigate = [&](const std::string& url, bool& cancel) {
    BrowserBeforeNavigate2(panel, guardTrace, url, cancel);
  };
  const auto traced = [](const RecordingTrace& trace, const std::string& url) {
    return std::count(trace.lines.begin(), trace.lines.end(), "Navigation refused: " + url) > 0;
  };
  server.Serve("/ran", "ran");
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/ran")), 0);
  const std::string scriptUrl = "javascript:void(fetch('/ran'))";
  for (const std::string& url : {std::string("file:///etc/passwd"),
                                 std::string("data:text/html,<p>data</p>"), " " + scriptUrl}) {
    BrowserHarness::Browser().SetEvents(&events);
    BrowserHarness::Browser().Navigate(url);
    EXPECT_TRUE(RunMainLoopUntil([&] { return traced(guardTrace, url); })) << url;
  }

  server.Serve("/steps", "<html><body><a href=\"" + scriptUrl + "\">run</a></body></html>");
  JobState state;
  RecordingTrace trace;
  PseudoRandom random{1};
  events.onDocumentComplete = [&](Page& page) {
    if (page.location != server.Url("/steps")) return;
    state.JobRunning = true;
    state.PageWaitOver = false;
    state.site.StepNumber = 1;
    const SiteSteps steps(state.site.SiteScript);
    LoadStep(state, steps, 1);
    const StepDecision decision = BrowserDocumentComplete(state, steps, page, trace, random);
    if (decision.kind == StepDecision::Kind::Navigate)
      BrowserHarness::Browser().Navigate(decision.text);
  };
  for (const std::string& script : {"[STEP1]\nAPP-GotoLink=" + scriptUrl + "\n",
                                    std::string("[STEP1]\nAPP-SearchLinkPattern=fetch\n")}) {
    state.site.SiteScript = script;
    trace.lines.clear();
    events.pages.clear();
    ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/steps")), 0) << script;
    EXPECT_EQ(2, state.site.StepNumber) << script;
    EXPECT_TRUE(traced(trace, scriptUrl)) << script;
  }
  // The page the script would have run in completes once more, without it.
  events.onDocumentComplete = nullptr;
  events.pages.clear();
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/steps")), 0);
  EXPECT_EQ(1u, server.RequestsTo("/ran").size());  // the page loaded first, never the script
  EXPECT_LT(events.PageAt("file:"), 0);
  EXPECT_LT(events.PageAt("data:"), 0);
}

std::multimap<std::string, std::string> Fields(const std::vector<RecordedRequest>& requests) {
  return requests.empty() ? std::multimap<std::string, std::string>{} : requests.front().params;
}

TEST_F(BrowserPageTest, ReplayedWritesAndButtonClickSendExactlyTheseFields) {
  server.Serve("/fill",
               "<html><body><form action='/sent' method='post'>"
               "<input type='file' name='upload'>"
               "<input type='text' name='name'>"
               "<textarea name='message'></textarea>"
               "<input type='radio' name='color' value='red' checked>"
               "<input type='radio' name='color' value='blue'>"
               "<input type='checkbox' name='news' value='yes'>"
               "<select name='country'><option value='de'>DE</option><option value='fr'>FR</option>"
               "<option value='it'>IT</option></select>"
               "<input type='submit' name='send' value='Send'>"
               "<input type='submit' name='other' value='Other'>"
               "</form></body></html>");
  server.Serve("/sent", "<html><body>thanks</body></html>");
  events.onDocumentComplete = [&](Page& page) {
    if (page.location != server.Url("/fill")) return;
    page.SetValue(0, 0, "refused.txt");  // a file input refuses the write; the rest go on
    page.SetValue(0, 1, "J\xc3\xb6rg & Co");
    page.SetValue(0, 2, "line1\r\nline2 \"quoted\"");
    page.SetChecked(0, 4);
    page.SetChecked(0, 5);
    page.SetSelectedIndex(0, 6, 2);
    page.Click(0, 7);
  };
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/fill")), 0);
  ASSERT_TRUE(RunMainLoopUntil([&] { return events.PageAt(server.Url("/sent")) >= 0; }));

  const std::multimap<std::string, std::string> want = {{"upload", ""},
                                                        {"name", "J\xc3\xb6rg & Co"},
                                                        {"message", "line1\r\nline2 \"quoted\""},
                                                        {"color", "blue"},
                                                        {"news", "yes"},
                                                        {"country", "it"},
                                                        {"send", "Send"}};
  EXPECT_EQ(want, Fields(server.RequestsTo("/sent")));
}

// An input named "submit" hides the form's own submit method from page scripts.
TEST_F(BrowserPageTest, DirectSubmitSendsTheFormWithoutButtons) {
  server.Serve("/direct",
               "<html><body><form action='/other'><input name='x'></form>"
               "<form action='/got' method='post'><input name='q' value='kept'>"
               "<input type='submit' name='submit' value='S'></form></body></html>");
  server.Serve("/got", "<html><body>ok</body></html>");
  events.onDocumentComplete = [&](Page& page) {
    if (page.location == server.Url("/direct")) page.Submit(1);
  };
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/direct")), 0);
  ASSERT_TRUE(RunMainLoopUntil([&] { return events.PageAt(server.Url("/got")) >= 0; }));
  EXPECT_EQ((std::multimap<std::string, std::string>{{"q", "kept"}}),
            Fields(server.RequestsTo("/got")));
  EXPECT_TRUE(server.RequestsTo("/other").empty());
}

// A handler that navigates has its writes carried out on the page it leaves.
TEST_F(BrowserPageTest, NavigateFromTheHandlerReplaysWritesFirst) {
  server.Serve("/leave",
               "<html><body><form><input name='field' value='old'></form><script>"
               "addEventListener('pagehide', () => navigator.sendBeacon('/beacon',"
               " document.forms[0].field.value));</script></body></html>");
  server.Serve("/beacon", "");
  server.Serve("/next", "<html><body>next</body></html>");
  events.onDocumentComplete = [&](Page& page) {
    if (page.location != server.Url("/leave")) return;
    page.SetValue(0, 0, "typed");
    BrowserHarness::Browser().Navigate(server.Url("/next"));
  };
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/leave")), 0);
  ASSERT_TRUE(RunMainLoopUntil([&] {
    return events.PageAt(server.Url("/next")) >= 0 && !server.RequestsTo("/beacon").empty();
  }));
  EXPECT_EQ("typed", server.RequestsTo("/beacon").front().body);
}

TEST_F(BrowserPageTest, SourceBytesComeBackUnchangedWithTheDocumentsCharacterSet) {
  const std::string latin1 =
      "<html><body><p>Gr\xfc\xdf"
      "e caf\xe9</p></body></html>";
  server.Serve("/latin1", latin1, "text/html; charset=iso-8859-1");
  const int index = BrowserHarness::LoadPage(events, server.Url("/latin1"));
  ASSERT_GE(index, 0);
  const Page& page = events.pages[static_cast<std::size_t>(index)];
  EXPECT_EQ(latin1, GetPageSource(page));
  EXPECT_TRUE(TextContains(GetPageSource(page), "caf\xe9"));
  // The model's texts are UTF-8 whatever the page's encoding.
  EXPECT_NE(std::string::npos, page.bodyOuterHtml.find("caf\xc3\xa9"));
  EXPECT_EQ("windows-1252", page.characterSet);

  // Declared in the document rather than the header.
  server.Serve("/latin1-meta",
               "<html><head><meta charset='iso-8859-1'></head><body>caf\xe9</body></html>",
               "text/html");
  const int meta = BrowserHarness::LoadPage(events, server.Url("/latin1-meta"));
  ASSERT_GE(meta, 0);
  EXPECT_EQ("windows-1252", events.pages[static_cast<std::size_t>(meta)].characterSet);
}

std::vector<std::string> Locations(const std::vector<Page>& pages) {
  std::vector<std::string> locations;
  for (const Page& page : pages) locations.push_back(page.location);
  return locations;
}

// Each page reports its FINISHED before the next one's STARTED; every one is
// delivered once, in order, and writes on one never land on the next.
TEST_F(BrowserPageTest, PagesThatNavigateThemselvesAreEachDeliveredInOrder) {
  const auto form = [](const std::string& action) {
    return "<form action='" + action +
           "' method='post'><input name='field' value='original'></form>";
  };
  const std::string hop1 =
      "<html><head><meta http-equiv='refresh' content='0;url=/hop2'></head><body>" +
      form("/wrong1") + "</body></html>";
  server.Serve("/hop1", hop1);
  server.Serve("/hop2", "<html><body>" + form("/wrong2") +
                            "<script>addEventListener('load', () => setTimeout(() => {"
                            " location.href = '/landed'; }, 0));</script></body></html>");
  server.Serve("/landed", "<html><body>" + form("/posted") + "</body></html>");
  server.Serve("/posted", "<html><body>posted</body></html>");
  server.Serve("/end", "<html><body>end</body></html>");
  events.onDocumentComplete = [&](Page& page) {
    if (page.location == server.Url("/hop2")) page.SetValue(0, 0, "written on hop2");
    if (page.location == server.Url("/landed")) page.Submit(0);
  };
  BrowserHarness::Browser().SetEvents(&events);
  BrowserHarness::Browser().Navigate(server.Url("/hop1"));
  ASSERT_TRUE(RunMainLoopUntil([&] { return events.PageAt(server.Url("/posted")) >= 0; }));
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/end")), 0);

  EXPECT_EQ(
      (std::vector<std::string>{server.Url("/hop1"), server.Url("/hop2"), server.Url("/landed"),
                                server.Url("/posted"), server.Url("/end")}),
      Locations(events.pages));
  EXPECT_EQ(hop1, events.pages[0].source);
  ASSERT_EQ(1u, events.pages[1].forms.size());
  EXPECT_EQ((std::multimap<std::string, std::string>{{"field", "original"}}),
            Fields(server.RequestsTo("/posted")));
  EXPECT_EQ(1u, server.RequestsTo("/landed").size());
}

// A page whose text is not wanted is read as its load handlers end, while it
// still counts as loading, and once; writes on it are carried out as before.
// The page's own prompt function is not the one the control's script calls.
TEST_F(BrowserPageTest, PagesWithoutTextAreTakenOnceAfterTheirLoadHandlers) {
  server.Serve("/shown",
               "<html><body><form action='/taken' method='post'><input name='a'></form><script>"
               "window.prompt = () => '1';"
               "addEventListener('load', () => { const late = document.createElement('input');"
               " late.name = 'late'; late.value = 'added'; document.forms[0].append(late); });"
               "</script></body></html>");
  server.Serve("/taken", "<html><body>taken</body></html>");
  server.Serve("/end", "<html><body>end</body></html>");
  events.wantsPageText = [] { return false; };
  std::vector<bool> loading;
  events.onDocumentComplete = [&](Page& page) {
    loading.push_back(webkit_web_view_is_loading(BrowserHarness::Browser().View()));
    if (page.location != server.Url("/shown")) return;
    page.SetValue(0, 0, "typed");
    page.Submit(0);
  };
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/shown")), 0);
  ASSERT_TRUE(RunMainLoopUntil([&] { return events.PageAt(server.Url("/taken")) >= 0; }));
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/end")), 0);

  EXPECT_EQ(
      (std::vector<std::string>{server.Url("/shown"), server.Url("/taken"), server.Url("/end")}),
      Locations(events.pages));
  EXPECT_EQ((std::vector<bool>{true, true, true}), loading);
  EXPECT_EQ((std::multimap<std::string, std::string>{{"a", "typed"}, {"late", "added"}}),
            Fields(server.RequestsTo("/taken")));
}

// A page that may not open dialogs is read once its load has finished, as any page whose
// text is wanted.
TEST_F(BrowserPageTest, PagesThatMayNotPromptAreReadWhenTheirLoadFinishes) {
  server.Handle("/sandboxed", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Content-Security-Policy", "sandbox allow-scripts allow-forms");
    response.set_content(
        "<html><body><form action='/x'><input name='q' value='v'></form>"
        "</body></html>",
        "text/html");
  });
  events.wantsPageText = [] { return false; };
  std::vector<bool> loading;
  events.onDocumentComplete = [&](Page&) {
    loading.push_back(webkit_web_view_is_loading(BrowserHarness::Browser().View()));
  };
  const int page = BrowserHarness::LoadPage(events, server.Url("/sandboxed"));
  ASSERT_GE(page, 0);
  EXPECT_EQ(1u, events.pages.size());
  EXPECT_EQ(std::vector<bool>{false}, loading);
  ASSERT_EQ(1u, events.pages[static_cast<std::size_t>(page)].forms.size());
  EXPECT_EQ("v", events.pages[static_cast<std::size_t>(page)].forms[0].elements.at(0).value);
}

// Forms that would post into a new window or a frame post into the page.
TEST_F(BrowserPageTest, SubmittedFormsLoadInThePageWhateverTheirTarget) {
  struct Case {
    std::string path;
    std::string form;
    bool submitDirectly;
  };
  const std::vector<Case> cases = {
      {"/to-blank", "<form action='/to-blank-sent' method='post' target='_blank'>", false},
      {"/to-named-popup",
       "<form action='/to-named-popup-sent' method='post'"
       " onsubmit=\"window.open('', 'pop'); this.target = 'pop';"
       " event.submitter.formTarget = 'pop';\">",
       false},
      {"/to-frame",
       "<iframe name='sink' style='display:none'></iframe>"
       "<form action='/to-frame-sent' method='post' target='sink'>",
       false},
      {"/to-base-blank", "<base target='_blank'><form action='/to-base-blank-sent' method='post'>",
       true},
  };
  for (const Case& c : cases) {
    server.Serve(c.path, "<html><body>" + c.form +
                             "<input name='field' value='v'>"
                             "<input type='submit' name='go' value='Go' formtarget='_blank'>"
                             "</form></body></html>");
    server.Serve(c.path + "-sent", "<html><body>sent</body></html>");
    events.onDocumentComplete = [&](Page& page) {
      if (page.location != server.Url(c.path)) return;
      if (c.submitDirectly)
        page.Submit(0);
      else
        page.Click(0, 1);
    };
    const int index = BrowserHarness::LoadPage(events, server.Url(c.path));
    ASSERT_GE(index, 0) << c.path;
    ASSERT_TRUE(RunMainLoopUntil([&] { return events.PageAt(server.Url(c.path + "-sent")) >= 0; }))
        << c.path;
    EXPECT_EQ(index + 1, events.PageAt(server.Url(c.path + "-sent"))) << c.path;
  }
  events.onDocumentComplete = nullptr;
  ASSERT_GE(BrowserHarness::LoadPage(events, server.Url("/to-blank")), 0);
  for (const Case& c : cases) {
    const std::vector<RecordedRequest> sent = server.RequestsTo(c.path + "-sent");
    ASSERT_EQ(1u, sent.size()) << c.path;
    EXPECT_EQ("POST", sent[0].method) << c.path;
    EXPECT_EQ(1u, sent[0].params.count("field")) << c.path;
  }
  // The pop-up the onsubmit handler opens is still refused and reported.
  EXPECT_EQ(1, events.newWindows);
}

TEST_F(BrowserPageTest, SuccessStringSplitByMarkupOrInOtherCaseIsNotFound) {
  server.Serve("/thanks", "<html><body><p>Thank <b>you</b> for your Submission</p></body></html>");
  const int index = BrowserHarness::LoadPage(events, server.Url("/thanks"));
  ASSERT_GE(index, 0);
  const std::string text = GetPageSource(events.pages[static_cast<std::size_t>(index)]);
  EXPECT_FALSE(TextContains(text, "Thank you"));
  EXPECT_FALSE(TextContains(text, "for your submission"));
  EXPECT_TRUE(TextContains(text, "for your Submission"));
}

// The text is read only for a handler that wants it; one that wants it only
// by the time the page is delivered still gets it.
TEST_F(BrowserPageTest, PageTextIsReadOnlyWhenTheHandlerWantsIt) {
  const std::string html =
      "<html><body><p>Thank you</p><form action='/t'><input name='q' value='v'></form>"
      "<a href='/x'>x</a></body></html>";
  server.Serve("/plain", html);
  server.Serve("/late", html);
  events.wantsPageText = [] { return false; };
  const int plain = BrowserHarness::LoadPage(events, server.Url("/plain"));
  ASSERT_GE(plain, 0);
  const Page& page = events.pages[static_cast<std::size_t>(plain)];
  EXPECT_EQ("", page.source);
  EXPECT_EQ("", page.bodyOuterHtml);
  EXPECT_EQ(200, page.statusCode);
  ASSERT_EQ(1u, page.forms.size());
  EXPECT_EQ("v", page.forms[0].elements.at(0).value);
  EXPECT_EQ(std::vector<std::string>{server.Url("/x")}, page.links);

  int questions = 0;
  events.wantsPageText = [&] { return ++questions > 1; };
  const int late = BrowserHarness::LoadPage(events, server.Url("/late"));
  ASSERT_GE(late, 0);
  EXPECT_EQ(html, events.pages[static_cast<std::size_t>(late)].source);
  EXPECT_EQ(0u, events.pages[static_cast<std::size_t>(late)].bodyOuterHtml.rfind("<body>", 0));
  EXPECT_EQ(1u, events.pages[static_cast<std::size_t>(late)].forms.size());
}

// Lone UTF-16 surrogates in the page arrive as U+FFFD, the rest of the text intact.
TEST_F(BrowserPageTest, TextsWithLoneSurrogatesArriveAsValidUtf8) {
  server.Serve("/surrogate",
               "<html><body><form><input name='q'></form><script>"
               "document.forms[0].elements[0].value = 'a\\ud800b\\udc00c';</script></body></html>");
  const int index = BrowserHarness::LoadPage(events, server.Url("/surrogate"));
  ASSERT_GE(index, 0);
  ASSERT_EQ(1u, events.pages[static_cast<std::size_t>(index)].forms.size());
  EXPECT_EQ(
      "a\xef\xbf\xbd"
      "b\xef\xbf\xbd"
      "c",
      events.pages[static_cast<std::size_t>(index)].forms[0].elements.at(0).value);
}

TEST(ReadSnapshot, ReadsTheJsonTextAndLeavesTheModelEmptyForAnythingElse) {
  Page page;
  ReadSnapshot(
      R"({"body":"<body></body>","characterSet":"UTF-8","forms":[["http://h/a","post",)"
      R"([[2,"c","select-one","d",0,1,["","-","d","D"]],[0,"n","checkbox","y",1,-1,[]]]]],)"
      R"("links":["http://h/x",7]})",
      page);
  EXPECT_EQ("<body></body>", page.bodyOuterHtml);
  EXPECT_EQ("UTF-8", page.characterSet);
  ASSERT_EQ(1u, page.forms.size());
  EXPECT_EQ("http://h/a", page.forms[0].action);
  EXPECT_EQ("post", page.forms[0].method);
  ASSERT_EQ(2u, page.forms[0].elements.size());
  const FormElement& select = page.forms[0].elements[0];
  EXPECT_EQ(ElementKind::Select, select.kind);
  EXPECT_EQ(1, select.selectedIndex);
  ASSERT_EQ(2u, select.options.size());
  EXPECT_EQ("d", select.options[1].value);
  EXPECT_EQ("D", select.options[1].text);
  EXPECT_TRUE(page.forms[0].elements[1].checked);
  EXPECT_EQ(std::vector<std::string>{"http://h/x"}, page.links);  // a number is no link

  for (const std::string bad : {"", "not json", "[1,2]", "\"text\"", "{\"forms\":"}) {
    ReadSnapshot(bad, page);
    EXPECT_TRUE(page.forms.empty() && page.links.empty() && page.bodyOuterHtml.empty()) << bad;
  }
}

TEST(ActionsAsJson, EscapesTextsAndRepairsInvalidUtf8) {
  const std::vector<PageAction> actions = {{PageAction::Kind::SetValue, 0, 1, "a\"b\\c\n\x01", -1},
                                           {PageAction::Kind::SetValue, 0, 2, "caf\xe9", -1},
                                           {PageAction::Kind::Submit, 1, -1, "", -1}};
  EXPECT_EQ(
      "[{\"kind\":\"value\",\"form\":0,\"element\":1,\"index\":-1,\"value\":"
      "\"a\\\"b\\\\c\\u000a\\u0001\"},"
      "{\"kind\":\"value\",\"form\":0,\"element\":2,\"index\":-1,\"value\":\"caf\xef\xbf\xbd\"},"
      "{\"kind\":\"submit\",\"form\":1,\"element\":-1,\"index\":-1,\"value\":\"\"}]",
      ActionsAsJson(actions));
}

}  // namespace
}  // namespace veltrane::testing
