// One service instance on a shared PostgreSQL store while the store fails: a
// server that stops answering holds neither the job nor the instance, a
// server away for a while loses no site and posts none twice, and an instance
// whose report had to wait for the store goes on to its next schedule.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_stores.h"
#include "storage/stores.h"
#include "tests/support/fault_harness.h"
#include "tests/support/postgres_server.h"
#include "tests/support/recording_http_server.h"
#include "tests/support/service_process.h"
#include "tests/support/shared_server_test.h"
#include "tests/support/tcp_proxy.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_for.h"

namespace veltrane {
namespace {

using testing::WaitFor;

using std::chrono::seconds;
using testing::FormPage;
using testing::FormScript;
using testing::kThanks;

class StoreOutageTest : public testing::SharedServerTest {
 protected:
  void SetUp() override {
    SharedServerTest::SetUp();
    if (HasFatalFailure()) return;
    std::filesystem::create_directories(folder.File("db"));
  }

  void TearDown() override {
    if (HasFailure() && instance) std::fprintf(stderr, "--- trace ---\n%s", Trace().c_str());
  }

  void AddSubscription(const std::string& name) {
    Query("INSERT INTO subscription (name, url, submission_data) VALUES ($1, $2, $3)",
          {name, web.Url("/" + name + "/"), FormScript()});
  }
  // A site whose form posts to /<name>/post; `onPost` runs before the answer.
  void AddFormSite(const std::string& name, std::function<void()> onPost = nullptr) {
    web.Serve("/" + name + "/", FormPage("/" + name + "/post"));
    web.Handle("/" + name + "/post", [name, onPost](const httplib::Request&, httplib::Response& r) {
      if (onPost) onPost();
      r.set_content(std::string(kThanks) + " from " + name, "text/html; charset=utf-8");
    });
    AddSubscription(name);
  }
  // Due at `next` (a day number long past): the lower one is claimed first.
  void AddSchedule(int id, const std::string& sites, int next) {
    Query(
        "INSERT INTO pressrelease (name, contact_data, headline) VALUES ($1, $2, 'Acme news') "
        "ON CONFLICT DO NOTHING",
        {"Release", "company_name=Acme\r\n"});
    Query(
        "INSERT INTO schedule (id, name, subscription, frequency, time, next) "
        "VALUES ($1, 'Release', $2, 1, 0, $3)",
        {std::to_string(id), sites, std::to_string(next)});
  }

  // `leaseSeconds` is longer than the test's outage lasts: an instance that
  // cannot renew for three quarters of its lease stops its job.
  void StartInstance(const std::string& databaseUrl, const std::string& pageTimeoutMs,
                     const std::string& leaseSeconds) {
    instance = std::make_unique<testing::ServiceProcess>(VELTRANE_BINARY, folder.Path());
    instance->StartInOwnGroup({{"VELTRANE_DATABASE_URL", databaseUrl},
                               {"VELTRANE_PAGE_TIMEOUT_MS", pageTimeoutMs},
                               {"VELTRANE_POLL_INTERVAL_MS", "300"},
                               {"VELTRANE_LEASE_SECONDS", leaseSeconds}});
  }
  std::string Trace() const { return instance->ErrorLog(); }
  bool Traced(const std::string& text) const { return Trace().find(text) != std::string::npos; }

  // The history row of schedule `id`'s job, and the sites `history show`
  // prints as its evidence (the job's sites found through its history row).
  std::vector<SiteOutcome> Evidence(int id) {
    const PgResult row =
        Query("SELECT history_id FROM job WHERE schedule_id = $1 AND history_id IS NOT NULL",
              {std::to_string(id)});
    if (row.Rows() != 1) return {};
    const DatabasePaths paths{folder.File("db/vt.dat"), "", url};
    return MakeHistoryStore(paths)->JobSites(row.Integer(0, 0));
  }

  std::atomic<int> stops{0};  // server stops made by the sites' handlers
  testing::TempDir folder;
  std::unique_ptr<testing::ServiceProcess> instance;
};

// The store freezes while a site's page hangs: the page deadline still ends
// the site, the store's errors are traced, the job ends with its report kept
// and the lease renewals go on failing, all while the store stays frozen.
// Once it answers again, the report and the site ends land and the next
// schedule runs.
TEST_F(StoreOutageTest, AStoreThatStopsAnsweringHoldsNeitherTheJobNorTheNextSchedule) {
  web.ServeStalled("/hangs/", "<html><body>");
  AddSubscription("hangs");
  AddFormSite("b");
  AddFormSite("next");
  AddSchedule(1, "hangs\r\nb\r\n", 1);
  AddSchedule(2, "next\r\n", 2);
  testing::TcpProxy proxy(server.SocketPath());
  // Renewed every 22.5 s: at least once while frozen, and held 67.5 s.
  StartInstance(testing::PostgresServer::UrlThrough(proxy.Port(), "veltrane"), "4000", "90");

  ASSERT_TRUE(WaitFor([&] { return !web.RequestsTo("/hangs/").empty(); }, seconds(120)));
  proxy.Set(testing::TcpProxy::Mode::Freeze);
  const bool movedOn = WaitFor([&] { return Traced("Report kept in "); }, seconds(120));
  const std::string frozen = Trace();
  proxy.Set(testing::TcpProxy::Mode::Pass);
  ASSERT_TRUE(movedOn);
  EXPECT_NE(std::string::npos, frozen.find("Cannot record the end of site hangs : "));
  EXPECT_NE(std::string::npos, frozen.find("Leases of the running jobs not renewed : "));

  ASSERT_TRUE(WaitFor([&] { return Posts("next") == 1; }, seconds(120)));
  ASSERT_TRUE(WaitFor([&] { return Evidence(1).size() == 2; }, seconds(60)));
  const std::vector<SiteOutcome> sites = Evidence(1);
  EXPECT_EQ("Timeout", sites[0].record.reason);
  EXPECT_NE(std::string::npos, sites[1].record.reason.find("database server unreachable"))
      << sites[1].record.reason;
  EXPECT_EQ(0, Posts("b"));
}

// The server stops while a job runs over four sites, once in the middle and
// once as the last site posts: every site is posted exactly once, none is
// taken for a missing subscription, every site's end is recorded and shown
// by the job's history row, and the next schedule runs right after.
TEST_F(StoreOutageTest, AServerAwayDuringAJobLosesNoSiteAndPostsNoneTwice) {
  const auto stopServer = [this] {
    server.Stop();
    ++stops;
  };
  AddFormSite("a");
  AddFormSite("b", stopServer);
  AddFormSite("c");
  AddFormSite("d", stopServer);
  AddFormSite("e");
  AddSchedule(1, "a\r\nb\r\nc\r\nd\r\n", 1);
  AddSchedule(2, "e\r\n", 2);
  StartInstance(url, "20000", "120");

  ASSERT_TRUE(WaitFor([&] { return stops == 1; }, seconds(120)));
  std::this_thread::sleep_for(seconds(3));  // the outage
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(WaitFor([&] { return stops == 2; }, seconds(120)));
  ASSERT_TRUE(WaitFor([&] { return Traced("Report kept in "); }, seconds(120)));
  ASSERT_TRUE(server.Start()) << server.Error();

  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM history") == 2; }, seconds(120)));
  ASSERT_TRUE(WaitFor([&] { return Evidence(1).size() == 4; }, seconds(60)));
  for (const SiteOutcome& site : Evidence(1))
    EXPECT_TRUE(site.record.completed) << site.record.site;
  for (const char* site : {"a", "b", "c", "d", "e"}) EXPECT_EQ(1, Posts(site)) << site;
}

}  // namespace
}  // namespace veltrane
