#include "tools/bench_store.h"

#include <memory>
#include <string>
#include <vector>

#include "storage/stores.h"

namespace veltrane::bench {

void WriteBenchJob(const DatabasePaths& store, SiteKind kind, int sites, const BenchFarm& farm) {
  PressRelease release;
  release.Name = "Bench";
  release.CompanyName = "Acme";
  release.Country = "Germany";
  release.Email = "news@acme.test";
  release.Headline = "Acme ships the widget";
  release.NewsBody = "Line one\r\nLine two";
  release.Category = "Business";
  MakePressReleaseStore(store)->Add(release);

  const std::unique_ptr<SiteStore> siteStore = MakeSiteStore(store);
  std::vector<std::string> list;
  for (int site = 0; site < sites; ++site) {
    const std::string name = SiteName(kind, site);
    list.push_back(name);
    if (kind == SiteKind::Flow) siteStore->SetAccount(name, "acme", "s3cret");
    siteStore->Add(name, farm.Url(StartPath(kind, site)), SiteScript(kind));
  }
  MakeScheduleStore(store)->Add({"Bench", list, 1, 0.25, 1});
}

}  // namespace veltrane::bench
