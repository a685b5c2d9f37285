// veltrane-admin status against the built service, on the SQLite files and
// on a PostgreSQL server: idle, in a job at site k of n, stale after a kill
// (and taken away by the instance that follows), with a failing poll, and
// gone after a clean exit; its exit code follows.
#include <glib-object.h>
#include <gtest/gtest.h>
#include <json-glib/json-glib.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "admin/admin.h"
#include "admin/date_text.h"
#include "app/instance_publisher.h"
#include "platform/version.h"
#include "tests/support/fault_harness.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_for.h"
#ifdef VELTRANE_WITH_POSTGRES
#include "tests/support/shared_server_test.h"
#endif

namespace veltrane::testing {
namespace {

using std::chrono::seconds;

std::string HostName() {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  return host;
}

// One run of 'veltrane-admin status' on the service in `dir`, its JSON parsed back.
class StatusRun {
 public:
  explicit StatusRun(const std::string& dir, bool json = true)
      : parser_(json_parser_new(), g_object_unref) {
    std::istringstream in;
    std::ostringstream out, err;
    std::vector<std::string> args{"--dir", dir, "status"};
    if (json) args.push_back("--json");
    exitCode = admin::RunAdmin(args, {in, out, err});
    text = out.str();
    error = err.str();
    if (json && !json_parser_load_from_data(parser_.get(), text.data(),
                                            static_cast<gssize>(text.size()), nullptr))
      ADD_FAILURE() << "not JSON: " << text << error;
  }

  JsonObject* Root() const {
    JsonNode* root = json_parser_get_root(parser_.get());
    return root && JSON_NODE_HOLDS_OBJECT(root) ? json_node_get_object(root) : nullptr;
  }
  std::vector<JsonObject*> Items(const char* name) const {
    std::vector<JsonObject*> items;
    if (!Root() || !json_object_has_member(Root(), name)) return items;
    JsonArray* array = json_object_get_array_member(Root(), name);
    for (guint i = 0; i < json_array_get_length(array); ++i)
      items.push_back(json_array_get_object_element(array, i));
    return items;
  }
  // The instance whose pid is `pid`; null when none.
  JsonObject* Instance(pid_t pid) const {
    for (JsonObject* instance : Items("instances"))
      if (json_object_get_int_member(instance, "pid") == pid) return instance;
    return nullptr;
  }

  int exitCode = -1;
  std::string text;
  std::string error;

 private:
  std::unique_ptr<JsonParser, decltype(&g_object_unref)> parser_;
};

bool IsNull(JsonObject* object, const char* member) {
  return json_object_get_null_member(object, member);
}
std::string Text(JsonObject* object, const char* member) {
  return IsNull(object, member) ? "(null)" : json_object_get_string_member(object, member);
}
long long Int(JsonObject* object, const char* member) {
  return json_object_get_int_member(object, member);
}
bool Bool(JsonObject* object, const char* member) {
  return json_object_get_boolean_member(object, member);
}
JsonObject* Job(JsonObject* instance) {
  return IsNull(instance, "job") ? nullptr : json_object_get_object_member(instance, "job");
}

// Until the instance of `pid` is shown and `holds` holds for it.
bool WaitForInstance(const std::string& dir, pid_t pid,
                     const std::function<bool(JsonObject*)>& holds, seconds bound = seconds(90)) {
  return WaitFor(
      [&] {
        const StatusRun status(dir);
        JsonObject* instance = status.Instance(pid);
        return instance && holds(instance);
      },
      bound);
}

bool Polled(JsonObject* instance) { return !IsNull(instance, "lastPoll"); }
bool AtSite(JsonObject* instance, const char* site) {
  JsonObject* job = Job(instance);
  return job && !IsNull(job, "site") && Text(job, "site") == site;
}
bool Stale(JsonObject* instance) { return Bool(instance, "stale"); }

// The job of schedule 1 ("Status") at its second site of three, "slow".
void ExpectAtSlowSite(JsonObject* instance) {
  JsonObject* job = Job(instance);
  ASSERT_NE(nullptr, job);
  EXPECT_EQ(1, Int(job, "schedule"));
  EXPECT_EQ("Status", Text(job, "scheduleName"));
  EXPECT_EQ("Status", Text(job, "release"));
  EXPECT_EQ(2, Int(job, "siteNumber"));
  EXPECT_EQ(3, Int(job, "siteCount"));
  EXPECT_FALSE(IsNull(job, "siteSince"));
}

// A store that cannot take the row is said once, however often the row is
// written, and the publisher still stops at once.
TEST(InstancePublisher, AStoreItCannotWriteIsTracedOnceAndHoldsNothingUp) {
  TempDir dir;  // without db/
  RecordingTrace trace;
  ManualClock clock(45000);
  InstancePublisher publisher({dir.File("db/vt.dat"), dir.File("db/subscription2.dat"), ""}, clock,
                              trace, 1.0 / 1440);
  for (std::uint64_t poll = 1; poll <= 4; ++poll) {
    publisher.Publish({poll, "", "", std::nullopt, {}});
    // Room for the publisher's thread to try each one.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  ASSERT_TRUE(publisher.Stop(seconds(30)));
  ASSERT_EQ(1u, trace.lines.size());
  EXPECT_TRUE(trace.lines[0].starts_with("Instance status not written : ")) << trace.lines[0];
}

TEST(ServiceStatusFiles, IdleThenSiteKOfNThenStaleAfterAKillThenTakenAwayByTheNextInstance) {
  FaultHarness harness;
  harness.AddFormSite("alpha");
  harness.AddFormSite("gamma");
  // Site "slow" keeps its page loading, which holds the job there.
  harness.server.ServeStalled("/slow/", "<html><body>");
  harness.AddSite("slow", harness.server.Url("/slow/"), FormScript());
  const double next = 60000;  // in 2064
  harness.AddSchedule(1, "Status", {"alpha", "slow", "gamma"}, next);
  // A store made before the instance table: the service adds it.
  harness.databases.Main("DROP TABLE instance");
  const std::string dir = harness.databases.Directory();
  harness.Start(120000, 1000);
  const pid_t first = harness.service.Pid();

  ASSERT_TRUE(WaitForInstance(dir, first, Polled));
  {
    const StatusRun status(dir);
    EXPECT_EQ(0, status.exitCode) << status.error;
    EXPECT_EQ("", status.error);
    EXPECT_TRUE(Bool(status.Root(), "healthy"));
    JsonObject* instance = status.Instance(first);
    ASSERT_NE(nullptr, instance);
    EXPECT_EQ(HostName(), Text(instance, "host"));
    EXPECT_EQ(std::string(VeltraneVersion()), Text(instance, "version"));
    EXPECT_TRUE(Bool(instance, "healthy"));
    EXPECT_FALSE(Stale(instance));
    EXPECT_TRUE(IsNull(instance, "job"));
    EXPECT_TRUE(IsNull(instance, "lastPollError"));
    EXPECT_TRUE(IsNull(instance, "lastError"));
    EXPECT_EQ(0, Int(instance, "spoolBacklog"));
    const std::vector<JsonObject*> due = status.Items("nextDue");
    ASSERT_EQ(1u, due.size());
    EXPECT_EQ(1, Int(due[0], "id"));
    EXPECT_EQ(admin::FormatDateTime(next), Text(due[0], "next"));
    EXPECT_FALSE(Bool(due[0], "due"));
    const StatusRun text(dir, false);
    EXPECT_EQ(0, text.exitCode);
    EXPECT_TRUE(text.text.starts_with("Instance " + HostName() + " pid " + std::to_string(first) +
                                      " (version " + std::string(VeltraneVersion()) +
                                      "): healthy\n"))
        << text.text;
    EXPECT_TRUE(text.text.ends_with("Next due:\n  " + admin::FormatDateTime(next) +
                                    "  schedule 1 (Status)\n"))
        << text.text;
  }

  harness.databases.Main("UPDATE schedule SET next = 1");
  ASSERT_TRUE(WaitForInstance(dir, first, [](JsonObject* i) { return AtSite(i, "slow"); }));
  {
    const StatusRun status(dir);
    EXPECT_EQ(0, status.exitCode) << status.error;
    ExpectAtSlowSite(status.Instance(first));
    const StatusRun text(dir, false);
    EXPECT_NE(std::string::npos, text.text.find("schedule 1 (Status): site 2 of 3, slow, since "))
        << text.text;
  }

  // Killed: its row stays and turns stale once its limit has passed.
  EXPECT_TRUE(harness.KillLeavesNothing());
  ASSERT_TRUE(WaitForInstance(dir, first, Stale));
  {
    const StatusRun status(dir);
    EXPECT_EQ(1, status.exitCode);
    EXPECT_EQ("veltrane-admin: 1 of 1 instance is not healthy\n", status.error);
    EXPECT_FALSE(Bool(status.Root(), "healthy"));
    JsonObject* instance = status.Instance(first);
    EXPECT_FALSE(Bool(instance, "healthy"));
    EXPECT_FALSE(IsNull(instance, "staleSince"));
    ExpectAtSlowSite(instance);  // as it last was
    const StatusRun text(dir, false);
    EXPECT_NE(std::string::npos, text.text.find("): STALE since ")) << text.text;
  }

  // The next instance on this host takes the killed one's row away.
  harness.Start(120000, 1000);
  const pid_t second = harness.service.Pid();
  ASSERT_TRUE(harness.WaitFor([&] {
    const StatusRun status(dir);
    return status.Items("instances").size() == 1 && status.Instance(second);
  }));
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(ServiceStatusFiles, AFailingPollIsNotHealthyAndACleanExitTakesTheRowAway) {
  FaultHarness harness;
  harness.AddFormSite("alpha");
  harness.AddSchedule(1, "Broken", {"alpha"});
  // The poll reads every column of a due schedule: without one it fails.
  harness.databases.Main("ALTER TABLE schedule DROP COLUMN start_date");
  const std::string dir = harness.databases.Directory();
  harness.Start(120000, 1000);
  const pid_t pid = harness.service.Pid();

  ASSERT_TRUE(WaitForInstance(dir, pid, [](JsonObject* i) { return !IsNull(i, "lastPollError"); }));
  {
    const StatusRun status(dir);
    EXPECT_EQ(1, status.exitCode);
    EXPECT_EQ("veltrane-admin: 1 of 1 instance is not healthy\n", status.error);
    JsonObject* instance = status.Instance(pid);
    EXPECT_FALSE(Bool(instance, "healthy"));
    EXPECT_FALSE(Stale(instance));
    EXPECT_EQ("Schedule poll failed : " + Text(instance, "lastPollError"),
              Text(instance, "lastError"));
    EXPECT_FALSE(IsNull(instance, "lastErrorAt"));
    const StatusRun text(dir, false);
    EXPECT_NE(std::string::npos, text.text.find("): NOT HEALTHY: its last poll failed\n"))
        << text.text;
  }

  // As systemctl stop ends it.
  ASSERT_EQ(0, kill(pid, SIGTERM));
  ASSERT_TRUE(WaitFor([&] { return !harness.service.Running(); }, seconds(60)));
  const StatusRun status(dir);
  EXPECT_TRUE(status.Items("instances").empty()) << status.text;
  EXPECT_EQ(1, status.exitCode);
  EXPECT_EQ("veltrane-admin: no instance of the service is running\n", status.error);
}

#ifdef VELTRANE_WITH_POSTGRES

class ServiceStatusServer : public SharedServerTest {
 protected:
  void TearDown() override {
    if (HasFailure())
      for (auto& instance : instances)
        std::fprintf(stderr, "---\n%s", instance->ErrorLog().c_str());
  }

  ServiceProcess& StartInstance() {
    folders.push_back(std::make_unique<TempDir>());
    std::filesystem::create_directories(folders.back()->File("db"));
    instances.push_back(std::make_unique<ServiceProcess>(VELTRANE_BINARY, folders.back()->Path()));
    instances.back()->StartInOwnGroup({{"VELTRANE_DATABASE_URL", url},
                                       {"VELTRANE_PAGE_TIMEOUT_MS", "120000"},
                                       {"VELTRANE_POLL_INTERVAL_MS", "1000"},
                                       {"VELTRANE_LEASE_SECONDS", "60"}});
    return *instances.back();
  }

  std::vector<std::unique_ptr<TempDir>> folders;
  std::vector<std::unique_ptr<ServiceProcess>> instances;
};

TEST_F(ServiceStatusServer, EveryInstanceIdleOrAtItsSiteThenStaleAfterAKillAndAFailingPoll) {
  for (const char* site : {"alpha", "gamma"}) {
    web.Serve(std::string("/") + site + "/", FormPage(std::string("/") + site + "/post"));
    web.Serve(std::string("/") + site + "/post", kThanks);
    Query("INSERT INTO subscription (name, url, submission_data) VALUES ($1, $2, $3)",
          {site, web.Url(std::string("/") + site + "/"), FormScript()});
  }
  web.ServeStalled("/slow/", "<html><body>");
  Query("INSERT INTO subscription (name, url, submission_data) VALUES ('slow', $1, $2)",
        {web.Url("/slow/"), FormScript()});
  Query("INSERT INTO pressrelease (name, headline) VALUES ('Status', 'H')");
  Query(
      "INSERT INTO schedule (id, name, subscription, frequency, time, next) "
      "VALUES (1, 'Status', $1, 1, 0, 60000)",
      {std::string("alpha\r\nslow\r\ngamma\r\n")});
  // A server made before the instance table: the instances add it.
  Query("DROP TABLE instance");
  // The tool reads the server named in its folder's configuration.
  TempDir tool;
  std::ofstream(tool.File("veltrane.conf")) << "database_url = " << url << "\n";
  const std::string dir = tool.Path();

  ServiceProcess& first = StartInstance();
  ServiceProcess& second = StartInstance();
  for (const ServiceProcess* instance : {&first, &second})
    ASSERT_TRUE(WaitForInstance(dir, instance->Pid(), Polled));
  {
    const StatusRun status(dir);
    EXPECT_EQ(0, status.exitCode) << status.error;
    EXPECT_EQ(2u, status.Items("instances").size());
    ASSERT_EQ(1u, status.Items("nextDue").size());
    EXPECT_EQ(admin::FormatDateTime(60000), Text(status.Items("nextDue")[0], "next"));
  }

  // One of them takes the job and shows its site; the other stays idle.
  Query("UPDATE schedule SET next = 1");
  pid_t running = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        const StatusRun status(dir);
        for (const ServiceProcess* instance : {&first, &second})
          if (JsonObject* shown = status.Instance(instance->Pid()); shown && AtSite(shown, "slow"))
            running = instance->Pid();
        return running != 0;
      },
      seconds(90)));
  ServiceProcess& busy = running == first.Pid() ? first : second;
  ServiceProcess& idle = running == first.Pid() ? second : first;
  {
    const StatusRun status(dir);
    EXPECT_EQ(0, status.exitCode) << status.error;
    ExpectAtSlowSite(status.Instance(busy.Pid()));
    EXPECT_TRUE(IsNull(status.Instance(idle.Pid()), "job"));
  }

  // The killed one turns stale; the other stays healthy.
  const pid_t killed = busy.Pid();
  busy.KillAndAwaitEmptyGroup(std::chrono::seconds(30));
  ASSERT_TRUE(WaitForInstance(dir, killed, Stale));
  {
    const StatusRun status(dir);
    EXPECT_EQ(1, status.exitCode);
    EXPECT_EQ("veltrane-admin: 1 of 2 instances are not healthy\n", status.error);
    EXPECT_TRUE(Bool(status.Instance(idle.Pid()), "healthy"));
    EXPECT_FALSE(IsNull(status.Instance(killed), "staleSince"));
  }

  // A poll that fails on the server is shown for the instance that runs.
  Query("ALTER TABLE job RENAME TO job_away");
  ASSERT_TRUE(WaitForInstance(
      dir, idle.Pid(), [](JsonObject* i) { return !IsNull(i, "lastPollError") && !Stale(i); }));
  const StatusRun status(dir);
  EXPECT_EQ(1, status.exitCode);
  JsonObject* instance = status.Instance(idle.Pid());
  EXPECT_FALSE(Bool(instance, "healthy"));
  EXPECT_EQ("Schedule poll failed : " + Text(instance, "lastPollError"),
            Text(instance, "lastError"));
}

#endif

}  // namespace
}  // namespace veltrane::testing
