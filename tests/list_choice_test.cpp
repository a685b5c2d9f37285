// FindOption, ChooseCountry and ChooseCategory.
#include "forms/list_choice.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

using Options = std::vector<std::string>;

TEST(FindOptionTest, FirstEntryContainingTheTextWins) {
  const Options options = {"0 Choose", "10 Business News", "11 Business"};
  EXPECT_EQ(1, FindOption(options, "business"));  // not the exact match at 2
  EXPECT_EQ(0, FindOption(options, "0"));
  EXPECT_EQ(-1, FindOption(options, "sports"));
}

TEST(FindOptionTest, EmptyWantedTextMatchesNothing) {
  EXPECT_EQ(-1, FindOption({"", "a"}, ""));
  EXPECT_EQ(-1, FindOption({}, "a"));
}

TEST(FindOptionTest, CaseIgnoredForAToZOnly) {
  EXPECT_EQ(0, FindOption({"de germany"}, "GERMANY"));
  EXPECT_EQ(0, FindOption({"DE GERMANY"}, "germany"));
  EXPECT_EQ(-1, FindOption({"at \xC3\x96sterreich"}, "\xC3\xB6sterreich"));  // Ö vs ö
  EXPECT_EQ(0, FindOption({"at \xC3\x96sterreich"}, "\xC3\x96STERREICH"));
}

TEST(FindOptionTest, MatchesAcrossValueAndText) {
  EXPECT_EQ(1, FindOption({"1 x", "us United States"}, "us united"));
}

TEST(ChooseCountryTest, AustraliaBeforeUnitedStatesWinsByUs) {
  // "USA" is in neither entry; "US" occurs first in "au australia".
  EXPECT_EQ(0, ChooseCountry({"AU Australia", "US United States"}, "Narnia"));
}

TEST(ChooseCountryTest, CountryFirstThenFallbacks) {
  const Options options = {"DE Germany", "US United States"};
  EXPECT_EQ(0, ChooseCountry(options, "germany"));
  EXPECT_EQ(1, ChooseCountry(options, ""));  // empty goes straight to the fallbacks
  EXPECT_EQ(1, ChooseCountry({"1 Canada", "2 USA"}, "France"));
  EXPECT_EQ(1, ChooseCountry({"x Canada", "y United States"}, "France"));  // by "United States"
  EXPECT_EQ(-1, ChooseCountry({"1 Canada", "2 Mexico"}, "France"));
}

TEST(ChooseCategoryTest, FoundCategoryAndTrace) {
  RecordingTrace trace;
  EXPECT_EQ(0, ChooseCategory({"1 Technology", "2 Business"}, "technology", trace));
  EXPECT_EQ(std::vector<std::string>{"Category found are : 1 Technology\r\n2 Business\r\n"},
            trace.lines);
}

TEST(ChooseCategoryTest, FallsBackToBusiness) {
  RecordingTrace trace;
  EXPECT_EQ(2, ChooseCategory({"1 Arts", "2 Internet", "3 Business"}, "Cooking", trace));
  ASSERT_EQ(2u, trace.lines.size());
  EXPECT_EQ("Cannot found selected category , continue to search business", trace.lines[1]);
}

TEST(ChooseCategoryTest, EmptyCategoryEndsWithInternet) {
  RecordingTrace trace;
  EXPECT_EQ(1, ChooseCategory({"1 Arts", "2 Internet"}, "", trace));
  EXPECT_EQ((std::vector<std::string>{
                "Category found are : 1 Arts\r\n2 Internet\r\n",
                "Cannot found selected category , continue to search business",
                "Cannot found business category , continue to search for internet"}),
            trace.lines);
}

TEST(ChooseCategoryTest, NothingFitsGivesMinusOne) {
  RecordingTrace trace;
  EXPECT_EQ(-1, ChooseCategory({"1 Arts", "2 Sports"}, "Cooking", trace));
  EXPECT_EQ(-1, ChooseCategory({}, "Cooking", trace));
  EXPECT_EQ("Category found are : ", trace.lines[3]);
}

}  // namespace
}  // namespace veltrane
