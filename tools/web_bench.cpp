// veltrane-web-bench: how fast the web view answers on a big store. Fills a
// temporary directory with 1,000 sites and 10,000 history rows (ten sites'
// outcomes each, a fifth of them failed with a screenshot name), serves it
// with the web view on 127.0.0.1 and asks for the overview, a job's page, a
// site's page and the grid over HTTP, printing the median and slowest answer
// of each. Arguments: [--rounds N] (default 20).
#include <glib.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "storage/database_files.h"
#include "storage/sqlite_core.h"
#include "web/web_server.h"

namespace {

constexpr int kSites = 1000;
constexpr int kHistoryRows = 10000;

void FillStore(const std::string& dir) {
  using veltrane::sqlite::Connection;
  using veltrane::sqlite::OpenMode;
  std::filesystem::create_directories(dir + "/db");
  std::filesystem::create_directories(dir + "/shots");
  Connection sites(dir + "/db/subscription2.dat", OpenMode::Create);
  sites.Execute(veltrane::SubscriptionDatabaseSchema());
  const std::string siteRows =
      "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
      std::to_string(kSites - 1) +
      ") INSERT INTO subscription (name,url,submission_data) SELECT printf('site-%04d', i), "
      "printf('http://site-%04d.example/submit', i), '[STEP1]\nAPP-FormPos=0\nuser=$$username$$\n"
      "pass=$$password$$\n[STEP2]\nAPP-FormPos=1\nheadline=$$headline$$\nbody=$$news_body$$\n"
      "[STEP3]\nAPP-SuccessString=Thank you\n' FROM n";
  sites.Execute(siteRows.c_str());

  Connection main(dir + "/db/vt.dat", OpenMode::Create);
  main.Execute(veltrane::MainDatabaseSchema());
  const std::string rows = std::to_string(kHistoryRows);
  const std::string numbers =
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + rows + ") ";
  main.Execute("BEGIN");
  main.Execute((numbers +
                "INSERT INTO history (id,name,time,status,content,subscription) SELECT i, "
                "'Release ' || (i % 50), printf('%.6f', 45000 + i * 0.05), "
                "CASE WHEN i % 5 = 0 THEN 'Partial' ELSE 'Success' END, "
                "'Complete submission : ' || char(13) || char(10) || ' - a site', "
                "'ten sites' FROM n")
                   .c_str());
  main.Execute((numbers +
                "INSERT INTO job (id,schedule_id,name,subscription,queued,started,finished,"
                "history_id) SELECT i, i % 50 + 1, 'Release ' || (i % 50), 'ten sites', "
                "45000 + i * 0.05 - 0.01, 45000 + i * 0.05 - 0.01, 45000 + i * 0.05, i FROM n")
                   .c_str());
  main.Execute(
      (numbers +
       ", p(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM p WHERE k < 9) "
       "INSERT INTO job_site (job_id,schedule_id,position,site,status,reason,started,ended,"
       "last_url,last_status,success_text,pages,screenshot,notes,network_error) SELECT i, "
       "i % 50 + 1, k, printf('site-%04d', (i * 10 + k) % " +
       std::to_string(kSites) +
       "), CASE WHEN (i + k) % 5 = 0 THEN 'Failed' ELSE 'Completed' END, "
       "CASE WHEN (i + k) % 5 = 0 THEN 'Submission failed (success string not found)' ELSE '' "
       "END, 45000 + i * 0.05 - 0.01, 45000 + i * 0.05 - 0.005, 'http://example/thanks', 200, "
       "'Thank you', 3, CASE WHEN (i + k) % 5 = 0 THEN printf('20230101-000000-site-%04d.png', "
       "(i * 10 + k) % 1000) ELSE '' END, '', '' FROM n, p")
          .c_str());
  main.Execute(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50) "
      "INSERT INTO schedule (id,name,subscription,frequency,time,next) SELECT i, "
      "'Release ' || i, 'site-0001' || char(13) || char(10) || 'site-0002', 1, 0, 45600 + i FROM "
      "n");
  main.Execute("COMMIT");
}

struct Figures {
  std::string what;
  double median = 0;
  double slowest = 0;
  std::size_t bytes = 0;
};

}  // namespace

int main(int argc, char** argv) {
  int rounds = 20;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));

  char pattern[] = "/tmp/veltrane-web-bench-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (!made) return 1;
  const std::string dir = made;
  std::printf("filling %s: %d sites, %d history rows, %d outcomes\n", dir.c_str(), kSites,
              kHistoryRows, kHistoryRows * 10);
  FillStore(dir);

  veltrane::web::WebSetup setup;
  setup.paths = {dir + "/db/vt.dat", dir + "/db/subscription2.dat", ""};
  setup.shotsDirectory = dir + "/shots";
  veltrane::web::WebServer server({"127.0.0.1", 0}, std::move(setup));
  const std::string base = server.BaseUrl();

  const std::vector<std::pair<std::string, std::string>> pages = {
      {"overview", "/"},
      {"job page", "/job?id=5000"},
      {"grid (20 jobs)", "/grid"},
      {"grid by failures (100 jobs)", "/grid?jobs=100&sort=failures"},
      {"site page", "/site?name=site-0042"},
  };
  std::vector<Figures> figures;
  std::atomic<bool> done{false};
  std::thread client([&] {
    httplib::Client http(base);
    for (const auto& [what, path] : pages) {
      std::vector<double> times;
      Figures figure{what};
      for (int round = 0; round <= rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const auto answer = http.Get(path);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (!answer || answer->status != 200) {
          std::fprintf(stderr, "%s: no answer\n", path.c_str());
          break;
        }
        figure.bytes = answer->body.size();
        if (round > 0) times.push_back(ms);  // the first warms the page cache
      }
      if (times.empty()) continue;
      std::sort(times.begin(), times.end());
      figure.median = times[times.size() / 2];
      figure.slowest = times.back();
      figures.push_back(figure);
    }
    done = true;
    g_main_context_wakeup(nullptr);
  });
  while (!done) g_main_context_iteration(nullptr, TRUE);
  client.join();

  std::printf("%-30s %10s %10s %10s\n", "page", "median ms", "slowest ms", "bytes");
  for (const Figures& figure : figures)
    std::printf("%-30s %10.1f %10.1f %10zu\n", figure.what.c_str(), figure.median, figure.slowest,
                figure.bytes);
  if (!std::getenv("VELTRANE_BENCH_KEEP")) std::filesystem::remove_all(dir);
  return figures.size() == pages.size() ? 0 : 1;
}
