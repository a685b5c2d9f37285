#include "engine/link_search.h"

#include <gtest/gtest.h>

#include <map>

namespace veltrane {
namespace {

Page PageWithLinks(std::vector<std::string> links) {
  Page page;
  page.links = std::move(links);
  return page;
}

TEST(PatternWords, SplitsAtBlanksAndControlCharactersAndUnquotes) {
  struct Case {
    std::string pattern;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {"add url", {"add", "url"}},
      {"  add\t\turl\r\n", {"add", "url"}},
      {"", {}},
      {" \x01\x1f ", {}},
      {"\"add url\"", {"add url"}},
      {"\"say \"\"hi\"\"\" x", {"say \"hi\"", "x"}},
      {"\"\" a", {"", "a"}},
      {"\"open end", {"open end"}},
      {"\"ab\"cd", {"ab", "cd"}},
      {"a\"b c", {"a\"b", "c"}},
      {"caf\xc3\xa9 \xc3\xbc", {"caf\xc3\xa9", "\xc3\xbc"}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.words, PatternWords(c.pattern)) << c.pattern;
}

TEST(MatchesPattern, EveryWordMustOccurWithCaseCounting) {
  struct Case {
    std::string address;
    std::string pattern;
    bool matches;
  };
  const std::vector<Case> cases = {
      {"http://a.test/addurl.php", "add url", true},
      {"http://a.test/s?url=1&add=2", "add url", true},
      {"http://a.test/ADDURL.php", "add url", false},
      {"http://a.test/add.php", "add url", false},
      {"http://a.test/submit site.php", "\"submit site\"", true},
      {"http://a.test/site submit.php", "\"submit site\"", false},
      {"http://a.test/x", "\"\"", false},
      {"http://a.test/x", "x \"\"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.matches, MatchesPattern(c.address, PatternWords(c.pattern)))
        << c.address << " / " << c.pattern;
  }
}

TEST(FindLink, GivesTheFirstMatchInDocumentOrder) {
  const Page page = PageWithLinks(
      {"http://a.test/home", "http://a.test/addurl.php?id=1", "http://a.test/addurl.php?id=2"});
  EXPECT_EQ("http://a.test/addurl.php?id=1", FindLink(page, "add url"));
  EXPECT_EQ("", FindLink(page, "missing"));
  EXPECT_EQ("", FindLink(Page{}, "add"));
}

TEST(FindRandomLink, ASingleMatchIsAlwaysChosen) {
  const Page page = PageWithLinks({"http://a.test/a", "http://a.test/submit", "http://a.test/b"});
  PseudoRandom random(7);
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ("http://a.test/submit", FindRandomLink(page, "sub", random));
  EXPECT_EQ("", FindRandomLink(page, "none", random));
}

// An address listed three times among the matches is chosen about three times as often.
TEST(FindRandomLink, WeighsDuplicatedAddressesByTheirCount) {
  const Page page =
      PageWithLinks({"http://a.test/go?x", "http://a.test/other", "http://a.test/go?y",
                     "http://a.test/go?x", "http://a.test/go?x"});
  PseudoRandom random(12345);
  std::map<std::string, int> counts;
  const int draws = 40000;
  for (int i = 0; i < draws; ++i) ++counts[FindRandomLink(page, "go", random)];
  ASSERT_EQ(2u, counts.size());
  const double ratio =
      static_cast<double>(counts["http://a.test/go?x"]) / counts["http://a.test/go?y"];
  EXPECT_NEAR(3.0, ratio, 0.25);
}

TEST(RandomIndex, IsZeroForNoChoiceAndWithinRangeOtherwise) {
  PseudoRandom random(1);
  EXPECT_EQ(0, RandomIndex(0, random));
  std::vector<int> seen(5, 0);
  for (int i = 0; i < 1000; ++i) {
    const int index = RandomIndex(5, random);
    ASSERT_GE(index, 0);
    ASSERT_LT(index, 5);
    ++seen[static_cast<std::size_t>(index)];
  }
  for (int count : seen) EXPECT_GT(count, 0);
}

TEST(PseudoRandom, SameSeedGivesSameSequence) {
  PseudoRandom a(99), b(99);
  for (int i = 0; i < 20; ++i) {
    const int next = a.Next();
    EXPECT_EQ(next, b.Next());
    EXPECT_GE(next, 0);
  }
}

}  // namespace
}  // namespace veltrane
