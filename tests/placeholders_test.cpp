// SubstitutePlaceholders: every row, letter case, the expansion
// order rule and the release-date formats of the locale.
#include "forms/placeholders.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "tests/support/scoped_locale.h"
namespace veltrane {
namespace {

using testing::ScopedLocale;

JobState DistinctValues() {
  JobState state;
  state.release.CompanyName = "<company>";
  state.release.ContactPerson = "<person>";
  state.release.Email = "<email>";
  state.release.Website = "<website>";
  state.release.Country = "<country>";
  state.release.PhoneNumber = "<phone>";
  state.release.Fax = "<fax>";
  state.release.StreetAddress = "<street>";
  state.release.City = "<city>";
  state.release.State = "<state>";
  state.release.ZipCode = "<zip>";
  state.site.login.UserName = "<user>";
  state.site.login.Password = "<password>";
  state.release.Headline = "<headline>";
  state.release.Summary = "<summary>";
  state.release.KeywordsComma = "<k,comma>";
  state.release.KeywordsSpace = "<k space>";
  state.release.NewsBody = "<body>";
  state.release.NewsBodyHtml = "<bodyhtml>";
  state.release.AboutCompany = "<about>";
  state.release.ContactDetail = "<detail>";
  state.release.FullText = "<full>";
  state.release.Category = "<category>";
  state.release.ReleaseDate = 45000;  // Wednesday, 15 March 2023
  return state;
}

TEST(PlaceholdersTest, EveryRow) {
  ScopedLocale locale("C");
  const JobState state = DistinctValues();
  struct Case {
    const char* placeholder;
    const char* value;
  };
  const Case cases[] = {
      {"$$company_name$$", "<company>"},
      {"$$company$$", "<company>"},
      {"$$contact_person$$", "<person>"},
      {"$$author$$", "<person>"},
      {"$$email$$", "<email>"},
      {"$$website$$", "<website>"},
      {"$$country$$", "<country>"},
      {"$$phonenumber$$", "<phone>"},
      {"$$fax$$", "<fax>"},
      {"$$phone$$", "<phone>"},
      {"$$street_address$$", "<street>"},
      {"$$address$$", "<street>"},
      {"$$city$$", "<city>"},
      {"$$state$$", "<state>"},
      {"$$zipcode$$", "<zip>"},
      {"$$username$$", "<user>"},
      {"$$password$$", "<password>"},
      {"$$headline$$", "<headline>"},
      {"$$summary$$", "<summary>"},
      {"$$keyword$$", "<k,comma>"},
      {"$$news_body$$", "<body>"},
      {"$$news_body_HTML$$", "<bodyhtml>"},
      {"$$content$$", "<body>"},
      {"$$about_company$$", "<about>"},
      {"$$contact_detail$$", "<detail>"},
      {"$$pressrelease$$", "<full>"},
      {"$$release_date$$", "03/15/23"},
      {"$$keyword_space$$", "<k space>"},
      {"$$RELEASE_DATE_DATE_INTEGER$$", "15"},
      {"$$RELEASE_DATE_DATE_STRING$$", "Wednesday"},
      {"$$RELEASE_DATE_MONTH_INTEGER$$", "03"},
      {"$$RELEASE_DATE_MONTH_STRING$$", "March"},
      {"$$RELEASE_DATE_YEAR$$", "2023"},
      {"$$CATEGORY$$", "<category>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value, SubstitutePlaceholders(state.release, state.site.login, c.placeholder))
        << c.placeholder;
    EXPECT_EQ(std::string("[") + c.value + "][" + c.value + "]",
              SubstitutePlaceholders(state.release, state.site.login,
                                     std::string("[") + c.placeholder + "][" + c.placeholder + "]"))
        << c.placeholder;
  }
}

TEST(PlaceholdersTest, AnyLetterCase) {
  const JobState state = DistinctValues();
  EXPECT_EQ("<company>",
            SubstitutePlaceholders(state.release, state.site.login, "$$COMPANY_NAME$$"));
  EXPECT_EQ("<email>", SubstitutePlaceholders(state.release, state.site.login, "$$eMaIl$$"));
  EXPECT_EQ("<bodyhtml>",
            SubstitutePlaceholders(state.release, state.site.login, "$$NEWS_BODY_html$$"));
  EXPECT_EQ("<category>", SubstitutePlaceholders(state.release, state.site.login, "$$category$$"));
  EXPECT_EQ("Hi <person>, keep CASE",
            SubstitutePlaceholders(state.release, state.site.login, "Hi $$Author$$, keep CASE"));
}

TEST(PlaceholdersTest, OtherTextsStayAsWritten) {
  const JobState state = DistinctValues();
  for (const char* text : {"", "plain text", "$$unknown$$", "$$country", "$country$", "$$ email$$",
                           "$$$", "caf\xC3\xA9 $$"})
    EXPECT_EQ(text, SubstitutePlaceholders(state.release, state.site.login, text)) << text;
  EXPECT_EQ("$<city>$", SubstitutePlaceholders(state.release, state.site.login, "$$$city$$$"));
}

TEST(PlaceholdersTest, LaterRowExpandsAnInsertedValue) {
  JobState state = DistinctValues();
  state.release.CompanyName = "Acme $$email$$";  // row 1 inserts it, row 5 expands it
  EXPECT_EQ("Acme <email>",
            SubstitutePlaceholders(state.release, state.site.login, "$$company_name$$"));
}

TEST(PlaceholdersTest, EarlierRowDoesNotExpandAnInsertedValue) {
  JobState state = DistinctValues();
  state.release.Headline = "About $$company$$";  // row 18 inserts it after row 2 ran
  EXPECT_EQ("About $$company$$",
            SubstitutePlaceholders(state.release, state.site.login, "$$headline$$"));
}

// The login is written only where the step's own value asks for it.
TEST(PlaceholdersTest, LoginPlaceholdersInsideInsertedValuesStayLiteral) {
  JobState state = DistinctValues();
  state.release.CompanyName = "Acme $$password$$";
  state.release.ContactPerson = "$$UserName$$";
  state.release.StreetAddress = "$$PASSWORD$$ street";
  state.release.Headline = "News $$password$$";
  EXPECT_EQ("Acme $$password$$|$$UserName$$|$$PASSWORD$$ street|News $$password$$|<password>",
            SubstitutePlaceholders(state.release, state.site.login,
                                   "$$company$$|$$author$$|$$address$$|$$headline$$|"
                                   "$$Password$$"));
  // A placeholder that an inserted value completes is no step text either.
  state.release.Email = "word$$";
  EXPECT_EQ("$$password$$ <user>", SubstitutePlaceholders(state.release, state.site.login,
                                                          "$$pass$$email$$ $$username$$"));
  // The other rows still expand inserted values, across the login rows too.
  state.release.CompanyName = "$$headline$$ by $$city$$";
  EXPECT_EQ("News $$password$$ by <city>",
            SubstitutePlaceholders(state.release, state.site.login, "$$company$$"));
}

TEST(PlaceholdersTest, ValueHoldingItsOwnPlaceholderIsNotSearchedAgain) {
  JobState state = DistinctValues();
  state.release.City = "$$city$$ $$CITY$$";
  EXPECT_EQ("$$city$$ $$CITY$$ / $$city$$ $$CITY$$",
            SubstitutePlaceholders(state.release, state.site.login, "$$city$$ / $$City$$"));
}

TEST(PlaceholdersTest, PhoneAndFax) {
  const JobState state = DistinctValues();
  EXPECT_EQ("<phone> <phone> <fax>", SubstitutePlaceholders(state.release, state.site.login,
                                                            "$$phone$$ $$phonenumber$$ $$fax$$"));
}

TEST(PlaceholdersTest, PressReleaseWithEmptyParts) {
  JobState state;
  state.release.FullText =
      "\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n###";  // as LoadPressRelease composes it
  EXPECT_EQ("\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n###",
            SubstitutePlaceholders(state.release, state.site.login, "$$pressrelease$$"));
}

TEST(PlaceholdersTest, NewsBodyHtmlAndKeywords) {
  JobState state;
  state.release.NewsBodyHtml = "one\r<BR>two";
  state.release.KeywordsComma = "a,,c";
  state.release.KeywordsSpace = "a  c";
  EXPECT_EQ("one\r<BR>two|a,,c|a  c",
            SubstitutePlaceholders(state.release, state.site.login,
                                   "$$news_body_HTML$$|$$keyword$$|$$keyword_space$$"));
}

TEST(PlaceholdersTest, ReleaseDateDayZeroUnderC) {
  ScopedLocale locale("C");
  JobState state;
  state.release.ReleaseDate = 0;
  EXPECT_EQ("30|12|1899|Saturday|December|12/30/99",
            SubstitutePlaceholders(state.release, state.site.login,
                                   "$$RELEASE_DATE_DATE_INTEGER$$|$$RELEASE_DATE_MONTH_INTEGER$$|"
                                   "$$RELEASE_DATE_YEAR$$|$$RELEASE_DATE_DATE_STRING$$|"
                                   "$$RELEASE_DATE_MONTH_STRING$$|$$release_date$$"));
}

TEST(PlaceholdersTest, LeapDayUnderGermanLocale) {
  ScopedLocale locale("de_DE.UTF-8");
  if (!locale.ok()) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  JobState state;
  state.release.ReleaseDate = 36585;  // Tuesday, 29 February 2000
  EXPECT_EQ("29|02|2000|Dienstag|Februar|29.02.2000",
            SubstitutePlaceholders(state.release, state.site.login,
                                   "$$RELEASE_DATE_DATE_INTEGER$$|$$RELEASE_DATE_MONTH_INTEGER$$|"
                                   "$$RELEASE_DATE_YEAR$$|$$RELEASE_DATE_DATE_STRING$$|"
                                   "$$RELEASE_DATE_MONTH_STRING$$|$$release_date$$"));
}

TEST(PlaceholdersTest, LeapDayUnderC) {
  ScopedLocale locale("C");
  JobState state;
  state.release.ReleaseDate = 36585;
  EXPECT_EQ("Tuesday 29 February 2000 (02/29/00)",
            SubstitutePlaceholders(state.release, state.site.login,
                                   "$$RELEASE_DATE_DATE_STRING$$ $$RELEASE_DATE_DATE_INTEGER$$ "
                                   "$$RELEASE_DATE_MONTH_STRING$$ $$RELEASE_DATE_YEAR$$ "
                                   "($$release_date$$)"));
}

}  // namespace
}  // namespace veltrane
