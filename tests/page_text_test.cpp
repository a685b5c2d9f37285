#include "engine/page_text.h"

#include <gtest/gtest.h>

#include "engine/navigation_guards.h"

namespace veltrane {
namespace {

TEST(GetPageSource, PrefersSourceBytesAndFallsBackToBody) {
  Page page;
  EXPECT_EQ("", GetPageSource(page));
  page.bodyOuterHtml = "<body>b</body>";
  EXPECT_EQ("<body>b</body>", GetPageSource(page));
  page.source = std::string("<html>\xe9\xff\0x</html>", 16);
  EXPECT_EQ(page.source, GetPageSource(page));
}

TEST(TextContains, IsByteForByteAndCaseCounting) {
  struct Case {
    std::string text;
    std::string search;
    bool found;
  };
  const std::vector<Case> cases = {
      {"Thank you for your submission", "Thank you", true},
      {"Thank you for your submission", "thank you", false},
      {"<p>Thank <b>you</b></p>", "Thank you", false},
      {"<input value=\"secret token\">", "secret token", true},
      {"abc", "", false},
      {"", "a", false},
      {"Gr\xc3\xbc\xc3\x9f"
       "e",
       "\xc3\xbc\xc3\x9f", true},
      {"Gr\xfc\xdf"
       "e",
       "\xc3\xbc\xc3\x9f", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.found, TextContains(c.text, c.search)) << c.text << " / " << c.search;
}

// "Grüße" in UTF-8, as a step value holds it, and in windows-1252 source bytes.
const std::string kGreetingUtf8 =
    "Gr\xc3\xbc\xc3\x9f"
    "e";
const std::string kGreetingCp1252 =
    "Gr\xfc\xdf"
    "e";

Page SourcePage(const std::string& source, const std::string& characterSet) {
  Page page;
  page.source = source;
  page.characterSet = characterSet;
  page.bodyOuterHtml = "<body>ignored while there is a source</body>";
  return page;
}

TEST(PageContains, DecodesLegacySourceBytesForNonAsciiValues) {
  const std::string html = "<p>Vielen Dank, " + kGreetingCp1252 + "!</p>";
  struct Case {
    std::string characterSet;
    bool found;
  };
  const std::vector<Case> cases = {
      {"windows-1252", true},
      {"WINDOWS-1252", true},
      {"ISO-8859-1", true},
      {"iso-8859-15", true},
      {"UTF-8", false},
      {"utf-8", false},
      {"", false},
      {"no-such-charset", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.found, PageContains(SourcePage(html, c.characterSet), kGreetingUtf8))
        << c.characterSet;
  // Pages labelled ISO-8859-1 are shown as windows-1252, where 0x80 is the euro sign.
  EXPECT_TRUE(PageContains(SourcePage("5 \x80", "ISO-8859-1"), "5 \xe2\x82\xac"));
  // Decoding keeps case and markup: a value split by a tag is still not found.
  const Page page = SourcePage(
      "<p>Gr<b>\xfc</b>\xdf"
      "e</p>",
      "windows-1252");
  EXPECT_FALSE(PageContains(page, kGreetingUtf8));
  EXPECT_FALSE(PageContains(SourcePage(html, "windows-1252"),
                            "gr\xc3\xbc\xc3\x9f"
                            "e"));
}

TEST(PageContains, WhatTheByteTestFindsStaysFoundAndAsciiIsNeverDecoded) {
  // The same bytes as the value: found whatever the page claims to be.
  EXPECT_TRUE(
      PageContains(SourcePage("<p>" + kGreetingUtf8 + "</p>", "windows-1252"), kGreetingUtf8));
  EXPECT_TRUE(PageContains(SourcePage("<p>\xfc</p>", "UTF-8"), "\xfc"));
  // ASCII values: exactly the byte test, even where decoding would find them.
  const std::string utf16 = std::string("T\0h\0a\0n\0k\0s\0", 12);
  EXPECT_FALSE(PageContains(SourcePage(utf16, "UTF-16LE"), "Thanks"));
  EXPECT_TRUE(PageContains(SourcePage("Thanks", "windows-1252"), "Thanks"));
  EXPECT_FALSE(PageContains(SourcePage("Thanks", "windows-1252"), "thanks"));
  EXPECT_FALSE(PageContains(SourcePage("Thanks", "windows-1252"), ""));
  // The body's outer HTML is UTF-8 already and is searched as it is.
  Page body;
  body.characterSet = "windows-1252";
  body.bodyOuterHtml = "<body>" + kGreetingCp1252 + "</body>";
  EXPECT_FALSE(PageContains(body, kGreetingUtf8));
  body.bodyOuterHtml = "<body>" + kGreetingUtf8 + "</body>";
  EXPECT_TRUE(PageContains(body, kGreetingUtf8));
}

TEST(PageContains, UndecodableBytesAreReplacedAndDecodingGoesOn) {
  // 0x81 and 0x8D are no characters in windows-1252.
  EXPECT_TRUE(PageContains(SourcePage("\x81\x8d" + kGreetingCp1252 + "\x81", "windows-1252"),
                           kGreetingUtf8));
  EXPECT_TRUE(PageContains(SourcePage("\x81", "windows-1252"), "\xef\xbf\xbd"));
  // "日本" in Shift_JIS, whole and with its second character cut off at the end.
  const std::string nihon = "\xe6\x97\xa5\xe6\x9c\xac";
  EXPECT_TRUE(PageContains(SourcePage("\x93\xfa\x96\x7b", "Shift_JIS"), nihon));
  const Page cutOff = SourcePage("\x93\xfa\x96", "Shift_JIS");
  EXPECT_TRUE(PageContains(cutOff, nihon.substr(0, 3)));
  EXPECT_FALSE(PageContains(cutOff, nihon));
  // A large page with a bad byte every few bytes ends and still finds the value.
  std::string big;
  for (int i = 0; i < 20000; ++i) big += "ab\x81";
  EXPECT_TRUE(PageContains(SourcePage(big + kGreetingCp1252 + big, "windows-1252"), kGreetingUtf8));
}

TEST(RefusedMediaAddress, FindsMediaEndingsAnywhereInLowerCase) {
  struct Case {
    std::string url;
    bool refused;
  };
  const std::vector<Case> cases = {
      {"http://a.test/photo.JPG", true},   {"http://a.test/show?img=logo.gif&x=1", true},
      {"http://a.test/a.jpeg", true},      {"http://a.test/movie.SwF", true},
      {"http://a.test/pic.png#top", true}, {"http://a.test/page.html", false},
      {"http://a.test/jpg", false},        {"http://a.test/a.pn", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.refused, RefusedMediaAddress(c.url)) << c.url;
}

TEST(RefusedScheme, OnlyHttpHttpsAndAboutBlankPass) {
  struct Case {
    std::string url;
    bool refused;
  };
  const std::vector<Case> cases = {
      {"http://a.test/", false},       {"HTTPS://a.test/x", false},
      {"about:blank", false},          {"About:Blank", false},
      {"file:///etc/passwd", true},    {"data:text/html,<p>x</p>", true},
      {"javascript:alert(1)", true},   {" javascript:alert(1)", true},
      {"ftp://a.test/f", true},        {"about:config", true},
      {"about:blank.evil", true},      {"httpx://a.test/", true},
      {"mailto:someone@a.test", true}, {"", true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.refused, RefusedScheme(c.url)) << c.url;
}

TEST(NavigationGuards, BeforeNavigateShowsPanelAndRefusesMediaAndOtherSchemes) {
  RecordingLoadingIndicator panel;
  RecordingTrace trace;
  bool cancel = false;
  BrowserBeforeNavigate2(panel, trace, "http://a.test/form.php", cancel);
  EXPECT_TRUE(panel.shown);
  EXPECT_FALSE(cancel);
  EXPECT_TRUE(trace.lines.empty());
  BrowserBeforeNavigate2(panel, trace, "http://a.test/x.GIF", cancel);
  EXPECT_TRUE(cancel);
  cancel = false;
  BrowserBeforeNavigate2(panel, trace, "file:///etc/passwd", cancel);
  EXPECT_TRUE(cancel);
  EXPECT_EQ(3, panel.showCount);
  EXPECT_EQ((std::vector<std::string>{"Navigation refused: http://a.test/x.GIF",
                                      "Navigation refused: file:///etc/passwd"}),
            trace.lines);
  // A cancel set before is left as it came.
  bool preset = true;
  BrowserBeforeNavigate2(panel, trace, "http://a.test/", preset);
  EXPECT_TRUE(preset);
}

TEST(NavigationGuards, NewWindowIsCancelledAndErrorsAreTraced) {
  RecordingTrace trace;
  bool cancel = false;
  BrowserNewWindow2(trace, "http://a.test/pop", cancel);
  EXPECT_TRUE(cancel);
  EXPECT_EQ("New window refused: http://a.test/pop", trace.lines.back());

  bool errorCancel = true;
  BrowserNavigateError(trace, "http://a.test/x", -2146697211, "Connection refused", errorCancel);
  BrowserNavigateError(trace, "http://a.test/y", 404, "", errorCancel);
  EXPECT_FALSE(errorCancel);
  EXPECT_EQ((std::vector<std::string>{"New window refused: http://a.test/pop",
                                      "Error while navigate http://a.test/x code:-2146697211",
                                      "Network error: Connection refused",
                                      "Error while navigate http://a.test/y code:404"}),
            trace.lines);
}

}  // namespace
}  // namespace veltrane
