// The lists of veltrane-admin that answer an operator's questions, as text
// and as JSON, against real database files: history newest first and
// filtered, the sites failing now, each site's record, schedules and releases.
#include <glib-object.h>
#include <gtest/gtest.h>
#include <json-glib/json-glib.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "admin/admin.h"
#include "admin/json_writer.h"
#include "storage/sqlite_core.h"
#include "tests/support/temp_dir.h"

namespace veltrane::admin {
namespace {

using veltrane::testing::TempDir;

// A JSON document parsed back with json-glib; a test failure when it is none.
class ParsedJson {
 public:
  explicit ParsedJson(const std::string& text) : parser_(json_parser_new(), g_object_unref) {
    GError* error = nullptr;
    if (!json_parser_load_from_data(parser_.get(), text.data(), static_cast<gssize>(text.size()),
                                    &error)) {
      ADD_FAILURE() << "not JSON: " << (error ? error->message : "") << "\n" << text;
      g_clear_error(&error);
    }
  }
  JsonObject* Root() const {
    JsonNode* root = json_parser_get_root(parser_.get());
    return root && JSON_NODE_HOLDS_OBJECT(root) ? json_node_get_object(root) : nullptr;
  }
  // Member `name` of the root: an array of objects.
  std::vector<JsonObject*> Items(const char* name) const {
    std::vector<JsonObject*> items;
    JsonObject* root = Root();
    if (!root || !json_object_has_member(root, name)) return items;
    JsonArray* array = json_object_get_array_member(root, name);
    for (guint i = 0; array && i < json_array_get_length(array); ++i)
      items.push_back(json_array_get_object_element(array, i));
    return items;
  }

 private:
  std::unique_ptr<JsonParser, decltype(&g_object_unref)> parser_;
};

std::string Text(JsonObject* object, const char* member) {
  return json_object_get_string_member(object, member);
}
bool IsNull(JsonObject* object, const char* member) {
  return json_object_get_null_member(object, member);
}
std::vector<std::string> Texts(JsonObject* object, const char* member) {
  std::vector<std::string> texts;
  JsonArray* array = json_object_get_array_member(object, member);
  for (guint i = 0; i < json_array_get_length(array); ++i)
    texts.push_back(json_array_get_string_element(array, i));
  return texts;
}

class AdminListsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, Run({"init"})) << err;
    std::ofstream(dir.File("r.txt")) << "name: Launch\nheadline: H\n";
    ASSERT_EQ(0, Run({"release", "add", dir.File("r.txt")})) << err;
    std::ofstream(dir.File("s.ini")) << "[STEP1]\nAPP-SuccessString=ok\n";
    for (const char* site : {"Alpha", "Beta"})
      ASSERT_EQ(0, Run({"site", "add", site, "--url", "http://a/", "--script", dir.File("s.ini")}))
          << err;
  }

  int Run(std::vector<std::string> args) {
    std::istringstream in;
    std::ostringstream outStream, errStream;
    args.insert(args.begin(), {"--dir", dir.Path()});
    const int code = RunAdmin(args, {in, outStream, errStream, clock, false});
    out = outStream.str();
    err = errStream.str();
    return code;
  }

  void Exec(const std::string& sql) const {
    sqlite::Connection(dir.File("db/vt.dat"), sqlite::OpenMode::ReadWrite).Execute(sql.c_str());
  }

  TempDir dir;
  ManualClock clock{45010.5};  // 2023-03-25 12:00
  std::string out;
  std::string err;
};

TEST_F(AdminListsTest, HistoryListIsNewestFirstAndFiltered) {
  Exec(
      "INSERT INTO history (name, time, status, content, subscription) VALUES "
      "('Earlier', '45000.375', 'Failed', '', 'Alpha'), "
      "('Launch', '45008,75', 'Partial', '', 'Alpha,\"PR Daily/2\"'), "
      "('Again', '45009.5', 'Success', '', 'Beta')");
  ASSERT_EQ(0, Run({"history", "list"})) << err;
  EXPECT_EQ(
      "ID  TIME                 RELEASE  STATUS   SITES\n"
      "3   2023-03-24 12:00:00  Again    Success  Beta\n"
      "2   2023-03-23 18:00:00  Launch   Partial  Alpha,\"PR Daily/2\"\n"
      "1   2023-03-15 09:00:00  Earlier  Failed   Alpha\n",
      out);
  ASSERT_EQ(0, Run({"history", "list", "--since", "2023-03-23"})) << err;
  EXPECT_EQ(0u, out.find("ID  TIME                 RELEASE  STATUS   SITES\n3   ")) << out;
  EXPECT_NE(std::string::npos, out.find("\n2   ")) << out;
  EXPECT_EQ(std::string::npos, out.find("Earlier")) << out;
  ASSERT_EQ(0, Run({"history", "list", "--failed", "--limit", "1"})) << err;
  EXPECT_EQ(
      "ID  TIME                 RELEASE  STATUS   SITES\n"
      "2   2023-03-23 18:00:00  Launch   Partial  Alpha,\"PR Daily/2\"\n",
      out);

  ASSERT_EQ(0, Run({"history", "list", "--failed", "--json"})) << err;
  const ParsedJson json(out);
  const std::vector<JsonObject*> rows = json.Items("history");
  ASSERT_EQ(2u, rows.size()) << out;
  EXPECT_EQ(2, json_object_get_int_member(rows[0], "id"));
  EXPECT_EQ("2023-03-23 18:00:00", Text(rows[0], "time"));
  EXPECT_EQ("Launch", Text(rows[0], "release"));
  EXPECT_EQ("Partial", Text(rows[0], "status"));
  EXPECT_EQ((std::vector<std::string>{"Alpha", "PR Daily/2"}), Texts(rows[0], "sites"));
  EXPECT_EQ(1, json_object_get_int_member(rows[1], "id"));
}

// Alpha completed, then failed; Beta failed twice and never completed; a
// site that is gone failed too, and is not listed as failing.
TEST_F(AdminListsTest, FailingSitesAndEachSitesRecord) {
  Exec(
      "INSERT INTO job_site (job_id, schedule_id, position, site, status, reason, started, "
      "ended, last_url, screenshot) VALUES "
      "(1, 1, 0, 'Alpha', 'Completed', '', 45000, 45000.25, 'http://a/', ''), "
      "(2, 1, 0, 'Alpha', 'Completed', '', 45001, 45001.25, 'http://a/', ''), "
      "(2, 1, 1, 'Beta', 'Failed', 'Timeout', 45001, 45001.375, 'http://b/', 'b1.png'), "
      "(3, 1, 0, 'Alpha', 'Failed', 'No form', 45008, 45008.25, 'http://a/f', 'a.png'), "
      "(3, 1, 1, 'Beta', 'Failed', 'Timeout', 45008, 45008.375, 'http://b/', ''), "
      "(3, 1, 2, 'Gone', 'Failed', 'Timeout', 45008, 45008.5, 'http://g/', '')");
  ASSERT_EQ(0, Run({"site", "list", "--failing"})) << err;
  EXPECT_EQ(
      "NAME   FAILED IN A ROW  LAST RUN             LAST COMPLETED       LAST REASON  "
      "SCREENSHOT\n"
      "Alpha  1                2023-03-23 06:00:00  2023-03-16 06:00:00  No form      " +
          dir.File("shots/a.png") +
          "\n"
          "Beta   2                2023-03-23 09:00:00  never                Timeout      -\n",
      out);
  ASSERT_EQ(0, Run({"site", "list", "--failing", "--runs", "3"})) << err;
  EXPECT_EQ("no site failed its last 3 outcomes\n", out);

  ASSERT_EQ(0, Run({"site", "list", "--failing", "--runs", "2", "--json"})) << err;
  const ParsedJson json(out);
  EXPECT_EQ(2, json_object_get_int_member(json.Root(), "runs"));
  const std::vector<JsonObject*> sites = json.Items("sites");
  ASSERT_EQ(1u, sites.size()) << out;
  EXPECT_EQ("Beta", Text(sites[0], "name"));
  EXPECT_EQ(2, json_object_get_int_member(sites[0], "failedInARow"));
  EXPECT_EQ("2023-03-23 09:00:00", Text(sites[0], "lastRun"));
  EXPECT_EQ("Timeout", Text(sites[0], "lastReason"));
  EXPECT_EQ("http://b/", Text(sites[0], "lastUrl"));
  EXPECT_TRUE(IsNull(sites[0], "lastCompleted"));
  EXPECT_TRUE(IsNull(sites[0], "screenshot"));

  ASSERT_EQ(0, Run({"site", "stats"})) << err;
  EXPECT_EQ(
      "outcomes that ended since 2023-02-23 12:00:00 (30 days)\n"
      "NAME   RUNS  COMPLETED  FAILED  SUCCESS  MOST COMMON REASON\n"
      "Alpha  3     2          1       66.7%    No form (1)\n"
      "Beta   2     0          2       0%       Timeout (2)\n"
      "Gone   1     0          1       0%       Timeout (1)\n",
      out);
  ASSERT_EQ(0, Run({"site", "stats", "--days", "10", "--json"})) << err;
  const ParsedJson stats(out);
  EXPECT_EQ("2023-03-15 12:00:00", Text(stats.Root(), "since"));
  const std::vector<JsonObject*> records = stats.Items("sites");
  ASSERT_EQ(3u, records.size()) << out;
  EXPECT_EQ(2, json_object_get_int_member(records[0], "runs"));  // the first completion is older
  EXPECT_DOUBLE_EQ(0.5, json_object_get_double_member(records[0], "successRate"));
  EXPECT_EQ("No form", Text(records[0], "commonReason"));
  ASSERT_EQ(0, Run({"site", "stats", "--days", "1"})) << err;
  EXPECT_EQ("outcomes that ended since 2023-03-24 12:00:00 (1 day)\nno outcomes\n", out);
}

// Every stored text reaches the JSON intact: quotes, backslashes, control
// characters, non-ASCII; a byte that is no UTF-8 becomes U+FFFD.
TEST_F(AdminListsTest, SchedulesAndReleasesAsJsonKeepEveryText) {
  Exec(
      "UPDATE pressrelease SET headline = 'q\"b\\s' || char(9, 31, 1, 127) || 'caf' || "
      "char(233) || char(10) || CAST(x'ff' AS TEXT) || 'end' WHERE name = 'Launch'");
  ASSERT_EQ(0, Run({"release", "list", "--json"})) << err;
  for (const char c : out)
    EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n') << static_cast<int>(c);
  const ParsedJson releases(out);
  const std::vector<JsonObject*> items = releases.Items("releases");
  ASSERT_EQ(1u, items.size()) << out;
  EXPECT_EQ(
      "q\"b\\s\t\x1f\x01\x7f"
      "caf\xC3\xA9\n\xEF\xBF\xBD"
      "end",
      Text(items[0], "headline"));
  EXPECT_TRUE(IsNull(items[0], "releaseDate"));
  EXPECT_EQ(
      "\"q\\\"b\\\\s\\t\\u001f\\u0001\\u007fcaf\xC3\xA9\\n\xEF\xBF\xBD"
      "end \xF0\x9F\x99\x82\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"",
      JsonString("q\"b\\s\t\x1f\x01\x7f"
                 "caf\xC3\xA9\n\xFF"
                 "end \xF0\x9F\x99\x82\xC0\xAF\xED"));

  ASSERT_EQ(0, Run({"schedule", "add", "--release", "Launch", "--sites", "Alpha,Beta",
                    "--frequency", "daily", "--first", "2023-03-26 09:30"}))
      << err;
  Exec(
      "INSERT INTO schedule (id, name, subscription, frequency, time, next) VALUES "
      "(2, 'Launch', 'Beta', 0, 0, 145000), (3, 'Launch', 'Alpha', 9, 0, 45000)");
  ASSERT_EQ(0, Run({"schedule", "list", "--json"})) << err;
  const ParsedJson schedules(out);
  const std::vector<JsonObject*> listed = schedules.Items("schedules");
  ASSERT_EQ(3u, listed.size()) << out;
  EXPECT_EQ(3, json_object_get_int_member(listed[0], "id"));
  EXPECT_EQ("never moves on (frequency 9, time 0)", Text(listed[0], "invalid"));
  EXPECT_FALSE(json_object_get_boolean_member(listed[0], "due"));
  EXPECT_EQ(1, json_object_get_int_member(listed[1], "id"));
  EXPECT_EQ((std::vector<std::string>{"Alpha", "Beta"}), Texts(listed[1], "sites"));
  EXPECT_EQ(1, json_object_get_int_member(listed[1], "frequency"));
  EXPECT_EQ("2023-03-26 09:30:00", Text(listed[1], "next"));
  EXPECT_TRUE(IsNull(listed[1], "invalid"));
  EXPECT_TRUE(json_object_get_boolean_member(listed[2], "done"));
  EXPECT_TRUE(IsNull(listed[2], "next"));
}

TEST_F(AdminListsTest, BadListOptionsGiveOneLineAndTheirExitCode) {
  const struct {
    std::vector<std::string> args;
    int code;
    std::string error;
  } cases[] = {
      {{"history", "list", "--since", "23.03.2023"},
       3,
       "--since '23.03.2023' is not a date (YYYY-MM-DD)"},
      {{"history", "list", "--limit", "0"}, 3, "--limit '0' is not a number from 1 to 1000000"},
      {{"site", "list", "--runs", "2"},
       2,
       "site list: --runs goes with --failing (see 'veltrane-admin site list --help')"},
      {{"site", "stats", "--json=yes"},
       2,
       "site stats: --json takes no value (see 'veltrane-admin site stats --help')"},
      {{"release", "list", "--json", "--json"},
       2,
       "release list: --json given twice (see 'veltrane-admin release list --help')"},
      {{"--version", "init"}, 2, "--version takes no arguments"},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(test.code, Run(test.args)) << test.args[0] << " " << test.args[1];
    EXPECT_EQ("veltrane-admin: " + test.error + "\n", err);
    EXPECT_EQ("", out);
  }
}

}  // namespace
}  // namespace veltrane::admin
