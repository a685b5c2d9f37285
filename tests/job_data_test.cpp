// LoadSchedule, LoadPressRelease and LoadSite on real SQLite files.
#include "jobs/job_data.h"
#include "jobs/lane_settings.h"

#include <gtest/gtest.h>

#include "tests/support/test_database.h"

namespace veltrane {
namespace {

using testing::TestDatabases;

class JobDataTest : public ::testing::Test {
 protected:
  JobDataLoader Loader() { return JobDataLoader(databases.Paths(), trace, clock); }

  TestDatabases databases;
  RecordingTrace trace;
  ManualClock clock{45001.75};
  JobState state;
};

// ---- LoadSchedule ----

TEST_F(JobDataTest, ScheduleRowFillsNameAndSites) {
  databases.Main(
      "INSERT INTO schedule (id,name,subscription) VALUES (7,'Launch','a.com\r\nb.com\r\n')");
  state.PendingSites = {"old"};
  ASSERT_TRUE(Loader().LoadSchedule(state, 7));
  EXPECT_EQ("Launch", state.PressReleaseName);
  EXPECT_EQ((std::vector<std::string>{"a.com", "b.com"}), state.PendingSites);
  EXPECT_TRUE(trace.lines.empty()) << trace.lines.front();
}

TEST_F(JobDataTest, ScheduleSiteListSplitting) {
  struct Case {
    const char* stored;
    std::vector<std::string> sites;
  };
  const Case cases[] = {
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {"a\rb", {"a", "b"}},
      {"a\r\n\r\nb\n", {"a", "", "b"}},
      {"", {}},
  };
  int id = 1;
  for (const Case& c : cases) {
    databases.Main("INSERT INTO schedule (id,name,subscription) VALUES (" + std::to_string(id) +
                   ",'p','" + c.stored + "')");
    ASSERT_TRUE(Loader().LoadSchedule(state, id));
    EXPECT_EQ(c.sites, state.PendingSites) << "stored: " << c.stored;
    ++id;
  }
}

TEST_F(JobDataTest, ScheduleWithNullColumnsGivesEmptyNameAndNoSites) {
  databases.Main("INSERT INTO schedule (id) VALUES (3)");
  state.PressReleaseName = "previous";
  state.PendingSites = {"x"};
  ASSERT_TRUE(Loader().LoadSchedule(state, 3));
  EXPECT_EQ("", state.PressReleaseName);
  EXPECT_TRUE(state.PendingSites.empty());
}

TEST_F(JobDataTest, MissingScheduleRowChangesNothing) {
  state.PressReleaseName = "previous";
  state.PendingSites = {"x"};
  EXPECT_FALSE(Loader().LoadSchedule(state, 99));
  EXPECT_EQ("previous", state.PressReleaseName);
  EXPECT_EQ(std::vector<std::string>{"x"}, state.PendingSites);
  EXPECT_TRUE(trace.lines.empty()) << trace.lines.front();
}

TEST_F(JobDataTest, ScheduleDatabaseErrorIsTracedNotShown) {
  databases.Main("DROP TABLE schedule; CREATE TABLE schedule (id INTEGER PRIMARY KEY, name TEXT)");
  databases.Main("INSERT INTO schedule (id,name) VALUES (1,'p')");
  EXPECT_FALSE(Loader().LoadSchedule(state, 1));
  ASSERT_EQ(1u, trace.lines.size());
  EXPECT_EQ(
      "SELECT name,subscription FROM schedule WHERE id = 1\r\n1 : SQLITE_ERROR[1]: "
      "no such column: subscription",
      trace.lines[0]);
}

// ---- LoadPressRelease ----

void InsertRelease(const TestDatabases& databases, const std::string& columns,
                   const std::string& values) {
  databases.Main("INSERT INTO pressrelease (" + columns + ") VALUES (" + values + ")");
}

TEST_F(JobDataTest, PressReleaseFillsEveryField) {
  InsertRelease(databases,
                "name,contact_data,headline,summary,keyword,category,release_date,news_body,"
                "about_company,contact_detail,extra_data",
                "'PR','company_name=Acme\r\ncontact_person=Ann\r\nemail=a@acme.test\r\n"
                "website=acme.test\r\ncountry=Germany\r\nphonenumber=123\r\nfax=456\r\n"
                "street_address=Main St 1\r\ncity=Berlin\r\nstate=BE\r\nzipcode=10115',"
                "'Head','Sum','red\r\ngreen\r\nblue','Tech',36526,'Line one\r\nLine two',"
                "'About','Detail','site1=Business\r\nsite2=News'");
  ASSERT_TRUE(Loader().LoadPressRelease(state, "PR"));
  EXPECT_EQ("Acme", state.release.CompanyName);
  EXPECT_EQ("Ann", state.release.ContactPerson);
  EXPECT_EQ("a@acme.test", state.release.Email);
  EXPECT_EQ("acme.test", state.release.Website);
  EXPECT_EQ("Germany", state.release.Country);
  EXPECT_EQ("123", state.release.PhoneNumber);
  EXPECT_EQ("456", state.release.Fax);
  EXPECT_EQ("Main St 1", state.release.StreetAddress);
  EXPECT_EQ("Berlin", state.release.City);
  EXPECT_EQ("BE", state.release.State);
  EXPECT_EQ("10115", state.release.ZipCode);
  EXPECT_EQ("Head", state.release.Headline);
  EXPECT_EQ("Sum", state.release.Summary);
  EXPECT_EQ("red,green,blue", state.release.KeywordsComma);
  EXPECT_EQ("red green blue", state.release.KeywordsSpace);
  EXPECT_EQ("Tech", state.release.Category);
  EXPECT_EQ(36526, state.release.ReleaseDate);
  EXPECT_EQ("Line one\r\nLine two", state.release.NewsBody);
  EXPECT_EQ("Line one\r<BR>Line two", state.release.NewsBodyHtml);
  EXPECT_EQ("About", state.release.AboutCompany);
  EXPECT_EQ("Detail", state.release.ContactDetail);
  EXPECT_EQ("Head\r\n\r\nSum\r\n\r\nLine one\r\nLine two\r\n\r\nAbout\r\n\r\nDetail\r\n\r\n###",
            state.release.FullText);
  EXPECT_EQ((std::vector<std::string>{"site1=Business", "site2=News"}),
            state.release.SiteCategories);
  EXPECT_TRUE(trace.lines.empty()) << trace.lines.front();
}

TEST_F(JobDataTest, PressReleaseWithAllColumnsNull) {
  InsertRelease(databases, "name", "'Empty'");
  state.release.CompanyName = "old";
  state.release.KeywordsComma = "old";
  state.release.SiteCategories = {"old"};
  ASSERT_TRUE(Loader().LoadPressRelease(state, "Empty"));
  EXPECT_EQ("\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n###", state.release.FullText);
  for (const std::string* field :
       {&state.release.CompanyName,  &state.release.ContactPerson, &state.release.Email,
        &state.release.Website,      &state.release.Country,       &state.release.PhoneNumber,
        &state.release.Fax,          &state.release.StreetAddress, &state.release.City,
        &state.release.State,        &state.release.ZipCode,       &state.release.Headline,
        &state.release.Summary,      &state.release.KeywordsComma, &state.release.KeywordsSpace,
        &state.release.Category,     &state.release.NewsBody,      &state.release.NewsBodyHtml,
        &state.release.AboutCompany, &state.release.ContactDetail})
    EXPECT_EQ("", *field);
  EXPECT_TRUE(state.release.SiteCategories.empty());
  EXPECT_EQ(45001, state.release.ReleaseDate);  // today, from the clock
}

TEST_F(JobDataTest, NullReleaseDateIsTodaysWholeDay) {
  InsertRelease(databases, "name,release_date", "'P',NULL");
  clock.Set(36526.999);
  ASSERT_TRUE(Loader().LoadPressRelease(state, "P"));
  EXPECT_EQ(36526, state.release.ReleaseDate);
}

TEST_F(JobDataTest, ContactLookupEdgeCases) {
  // Capital E is found; "email " (trailing blank) is not; "=" inside a value
  // stays; of two lines the first wins; a line without "=" is skipped.
  InsertRelease(databases, "name,contact_data",
                "'P','email =wrong\nEmail=first@x.test\nemail=second@x.test\n"
                "website\nWebsite=http://x.test/?a=1&b=2\rcity=\r\nstate'");
  ASSERT_TRUE(Loader().LoadPressRelease(state, "P"));
  EXPECT_EQ("first@x.test", state.release.Email);
  EXPECT_EQ("http://x.test/?a=1&b=2", state.release.Website);
  EXPECT_EQ("", state.release.City);
  EXPECT_EQ("", state.release.State);
}

TEST_F(JobDataTest, KeywordJoining) {
  struct Case {
    const char* stored;
    const char* comma;
    const char* space;
  };
  const Case cases[] = {
      {"one\r\ntwo\r\nthree", "one,two,three", "one two three"},
      {"single", "single", "single"},
      {"", "", ""},
      {"a\r\n\r\nc", "a,,c", "a  c"},
      {"a\nb\n", "a,b", "a b"},
  };
  for (const Case& c : cases) {
    databases.Main("DELETE FROM pressrelease");
    InsertRelease(databases, "name,keyword", std::string("'P','") + c.stored + "'");
    ASSERT_TRUE(Loader().LoadPressRelease(state, "P"));
    EXPECT_EQ(c.comma, state.release.KeywordsComma) << c.stored;
    EXPECT_EQ(c.space, state.release.KeywordsSpace) << c.stored;
  }
}

TEST_F(JobDataTest, NewsBodyHtmlReplacesEveryLineFeed) {
  InsertRelease(databases, "name,news_body", "'P','a\nb\r\nc\rd\n'");
  ASSERT_TRUE(Loader().LoadPressRelease(state, "P"));
  EXPECT_EQ("a<BR>b\r<BR>c\rd<BR>", state.release.NewsBodyHtml);
}

TEST_F(JobDataTest, MissingPressReleaseChangesNothing) {
  state.release.Headline = "kept";
  EXPECT_FALSE(Loader().LoadPressRelease(state, "nobody"));
  EXPECT_EQ("kept", state.release.Headline);
  EXPECT_TRUE(trace.lines.empty()) << trace.lines.front();
}

TEST_F(JobDataTest, PressReleaseNameWithSingleQuoteIsRead) {
  InsertRelease(databases, "name,headline", "'O''Brien''s news','Quoted'");
  ASSERT_TRUE(Loader().LoadPressRelease(state, "O'Brien's news"));
  EXPECT_EQ("Quoted", state.release.Headline);
  EXPECT_TRUE(trace.lines.empty()) << trace.lines.front();
}

TEST_F(JobDataTest, PressReleaseMissingColumnIsShownAndKeepsEarlierFields) {
  databases.Main(
      "DROP TABLE pressrelease; CREATE TABLE pressrelease (name TEXT, contact_data TEXT, "
      "headline TEXT, summary TEXT)");
  databases.Main("INSERT INTO pressrelease VALUES ('P','email=e@x.test','H','S')");
  state.release.Category = "kept";
  EXPECT_FALSE(Loader().LoadPressRelease(state, "P"));
  const std::string expected =
      "SELECT * FROM pressrelease WHERE name = 'P'\r\n1000 : CPPSQLITE_ERROR[1000]: Invalid field "
      "name "
      "requested";
  ASSERT_EQ(1u, trace.lines.size());
  EXPECT_EQ(expected, trace.lines[0]);
  // Fields before the missing "keyword" column were assigned, later ones not.
  EXPECT_EQ("e@x.test", state.release.Email);
  EXPECT_EQ("S", state.release.Summary);
  EXPECT_EQ("kept", state.release.Category);
}

TEST_F(JobDataTest, PressReleaseWithoutTableIsShown) {
  databases.Main("DROP TABLE pressrelease");
  EXPECT_FALSE(Loader().LoadPressRelease(state, "P"));
  EXPECT_EQ(std::vector<std::string>{"SELECT * FROM pressrelease WHERE name = 'P'\r\n1 : "
                                     "SQLITE_ERROR[1]: no such table: pressrelease"},
            trace.lines);
}

// ---- LoadSite ----

TEST_F(JobDataTest, SiteWithBothRows) {
  databases.Subscription(
      "INSERT INTO subscription VALUES ('s1','http://s1.test/','[STEP1]\r\nA=1','extra')");
  databases.Main("INSERT INTO account VALUES ('s1','user1','pass1')");
  const SiteLoad load = Loader().LoadSite(state, "s1");
  EXPECT_EQ(SiteRows::Loaded, load.rows);
  EXPECT_TRUE(load.Loaded());
  EXPECT_EQ("extra", load.extraData);
  EXPECT_EQ("http://s1.test/", state.site.SiteUrl);
  EXPECT_EQ("[STEP1]\r\nA=1", state.site.SiteScript);
  EXPECT_EQ("user1", state.site.login.UserName);
  EXPECT_EQ("pass1", state.site.login.Password);
  EXPECT_TRUE(trace.lines.empty());
}

TEST_F(JobDataTest, SiteWithoutSubscriptionRowClearsPreviousSiteValues) {
  state.site.SiteUrl = "http://previous.test/";
  state.site.SiteScript = "[STEP1]";
  state.site.login.UserName = "previous";
  state.site.login.Password = "secret";
  databases.Main("INSERT INTO account VALUES ('gone','u','p')");
  const SiteLoad load = Loader().LoadSite(state, "gone");
  EXPECT_EQ(SiteRows::SubscriptionMissing, load.rows);
  EXPECT_FALSE(load.SubscriptionFound());
  EXPECT_EQ("", load.extraData);
  EXPECT_EQ("", state.site.SiteUrl);
  EXPECT_EQ("", state.site.SiteScript);
  EXPECT_EQ("", state.site.login.UserName);  // the account is not read
  EXPECT_EQ("", state.site.login.Password);
  EXPECT_EQ(std::vector<std::string>{"Cant find info for subscription 'gone'"}, trace.lines);
}

TEST_F(JobDataTest, SiteWithoutAccountRowRunsWithEmptyLogin) {
  databases.Subscription("INSERT INTO subscription (name,url) VALUES ('s2','http://s2.test/')");
  state.site.login.UserName = "previous";
  state.site.login.Password = "secret";
  const SiteLoad load = Loader().LoadSite(state, "s2");
  EXPECT_EQ(SiteRows::AccountMissing, load.rows);
  EXPECT_TRUE(load.SubscriptionFound());
  EXPECT_EQ("http://s2.test/", state.site.SiteUrl);
  EXPECT_EQ("", state.site.SiteScript);  // NULL submission_data
  EXPECT_EQ("", state.site.login.UserName);
  EXPECT_EQ("", state.site.login.Password);
  EXPECT_EQ(std::vector<std::string>{"Cant find info for subscription 's2'"}, trace.lines);
}

TEST_F(JobDataTest, SiteWithNullColumnsReadsEmptyTexts) {
  databases.Subscription("INSERT INTO subscription (name) VALUES ('s')");
  databases.Main("INSERT INTO account (name) VALUES ('s')");
  state.site.SiteUrl = "old";
  const SiteLoad load = Loader().LoadSite(state, "s");
  EXPECT_EQ(SiteRows::Loaded, load.rows);
  EXPECT_EQ("", state.site.SiteUrl);
  EXPECT_EQ("", state.site.login.UserName);
  EXPECT_EQ("", load.extraData);
}

TEST_F(JobDataTest, SiteNamedWithSingleQuoteIsRead) {
  databases.Subscription(
      "INSERT INTO subscription (name,url) VALUES ('O''Brien','http://ob.test/')");
  databases.Main("INSERT INTO account VALUES ('O''Brien','ob','pw')");
  EXPECT_EQ(SiteRows::Loaded, Loader().LoadSite(state, "O'Brien").rows);
  EXPECT_EQ("http://ob.test/", state.site.SiteUrl);
  EXPECT_EQ("ob", state.site.login.UserName);
}

TEST_F(JobDataTest, EmptySiteNameRunsLikeAMissingSubscription) {
  EXPECT_EQ(SiteRows::SubscriptionMissing, Loader().LoadSite(state, "").rows);
  EXPECT_EQ(std::vector<std::string>{"Cant find info for subscription ''"}, trace.lines);
}

TEST_F(JobDataTest, SubscriptionDatabaseErrorIsTracedNotShown) {
  databases.Subscription(
      "DROP TABLE subscription; CREATE TABLE subscription (name TEXT, url TEXT)");
  databases.Subscription("INSERT INTO subscription VALUES ('s','http://s.test/')");
  databases.Main("INSERT INTO account VALUES ('s','u','p')");
  JobDataLoader loader = Loader();
  const SiteLoad load = loader.LoadSite(state, "s");
  EXPECT_EQ(SiteRows::SubscriptionError, load.rows);
  EXPECT_TRUE(load.StoreFailed());
  EXPECT_EQ("CPPSQLITE_ERROR[1000]: Invalid field name requested", load.storeError);
  loader.LoadSite(state, "s");  // read again while the job waits: not traced again
  EXPECT_EQ(std::vector<std::string>{"SELECT * FROM subscription WHERE name = 's'\r\n1000 : "
                                     "CPPSQLITE_ERROR[1000]: Invalid field name requested"},
            trace.lines);
  EXPECT_EQ("", state.site.login.UserName);  // the account is not read
}

TEST_F(JobDataTest, SubscriptionWithoutExtraDataColumnStillLoads) {
  databases.Subscription(
      "DROP TABLE subscription; CREATE TABLE subscription (name TEXT, url TEXT, "
      "submission_data TEXT)");
  databases.Subscription("INSERT INTO subscription VALUES ('s','http://s.test/','[STEP1]')");
  databases.Main("INSERT INTO account VALUES ('s','u','p')");
  const SiteLoad load = Loader().LoadSite(state, "s");
  EXPECT_EQ(SiteRows::Loaded, load.rows);
  EXPECT_EQ("", load.extraData);
}

TEST_F(JobDataTest, AccountDatabaseErrorIsShownWithStatement) {
  databases.Subscription("INSERT INTO subscription (name,url) VALUES ('s','http://s.test/')");
  databases.Main("DROP TABLE account; CREATE TABLE account (name TEXT, username TEXT)");
  databases.Main("INSERT INTO account VALUES ('s','u')");
  const SiteLoad load = Loader().LoadSite(state, "s");
  EXPECT_EQ(SiteRows::AccountError, load.rows);
  const std::string expected =
      "SELECT * FROM account WHERE name = 's'\r\n1000 : CPPSQLITE_ERROR[1000]: Invalid field name "
      "requested";
  EXPECT_EQ(std::vector<std::string>{expected}, trace.lines);
  EXPECT_EQ("http://s.test/", state.site.SiteUrl);  // read before the error
  EXPECT_EQ("u", state.site.login.UserName);        // assigned before the missing column
  EXPECT_EQ("", state.site.login.Password);
}

TEST(LaneSettings, WholeNumbersInRangeAreTakenAndOthersLeaveTheDefault) {
  const LaneSettings none = LaneSettingsOf("");
  EXPECT_EQ(1, none.parallelSites);
  EXPECT_EQ(2, none.parallelPerHost);
  EXPECT_TRUE(none.problems.empty());

  const LaneSettings set = LaneSettingsOf("# lanes\nparallel_sites = 8\nparallel_per_host=3\n");
  EXPECT_EQ(8, set.parallelSites);
  EXPECT_EQ(3, set.parallelPerHost);
  EXPECT_TRUE(set.problems.empty());

  for (const char* bad : {"0", "-2", "33", "4 lanes", "x", "2.5"}) {
    const LaneSettings read = LaneSettingsOf(std::string("parallel_sites = ") + bad +
                                             "\nparallel_per_host = " + bad + "\n");
    EXPECT_EQ(1, read.parallelSites) << bad;
    EXPECT_EQ(2, read.parallelPerHost) << bad;
    EXPECT_EQ(2u, read.problems.size()) << bad;
  }
  EXPECT_EQ(std::vector<std::string>{"Setting parallel_sites 'many' is not a whole number from 1 "
                                     "to 32; 1 is used"},
            LaneSettingsOf("parallel_sites = many").problems);
}

}  // namespace
}  // namespace veltrane
