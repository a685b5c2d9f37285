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

TEST(NavigationGuards, BeforeNavigateShowsPanelAndRefusesOnlyMedia) {
  RecordingLoadingIndicator panel;
  bool cancel = false;
  BrowserBeforeNavigate2(panel, "http://a.test/form.php", cancel);
  EXPECT_TRUE(panel.shown);
  EXPECT_FALSE(cancel);
  BrowserBeforeNavigate2(panel, "http://a.test/x.GIF", cancel);
  EXPECT_TRUE(cancel);
  EXPECT_EQ(2, panel.showCount);
  // A cancel set before is left as it came.
  bool preset = true;
  BrowserBeforeNavigate2(panel, "http://a.test/", preset);
  EXPECT_TRUE(preset);
}

TEST(NavigationGuards, NewWindowIsCancelledAndErrorsAreTraced) {
  RecordingTrace trace;
  bool cancel = false;
  BrowserNewWindow2(trace, "http://a.test/pop", cancel);
  EXPECT_TRUE(cancel);
  EXPECT_EQ("New window refused: http://a.test/pop", trace.lines.back());

  bool errorCancel = true;
  BrowserNavigateError(trace, "http://a.test/x", -2146697211, errorCancel);
  BrowserNavigateError(trace, "http://a.test/y", 404, errorCancel);
  EXPECT_FALSE(errorCancel);
  EXPECT_EQ((std::vector<std::string>{"Error while navigate http://a.test/x code:-2146697211",
                                      "Error while navigate http://a.test/y code:404"}),
            trace.lines);
}

}  // namespace
}  // namespace veltrane
