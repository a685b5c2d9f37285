// The built service's first site right after start: a schedule due at start
// reaches its site while the browser's start-up page may still be finishing.
// That page is never taken for the site's own: the site loads its address and
// posts its form.
#include <gtest/gtest.h>

#include "tests/support/fault_harness.h"

namespace veltrane::testing {
namespace {

constexpr std::chrono::seconds kJobBound{90};

// Runs schedule 1 over `missing` sites without a subscription row, then the
// form site "ctlA", and checks that ctlA loaded its page and posted once.
void ExpectFirstRealSiteCompletes(int missing) {
  FaultHarness harness;
  harness.AddFormSite("ctlA");
  std::vector<std::string> sites;
  for (int i = 0; i < missing; ++i) sites.push_back("missing-" + std::to_string(i));
  sites.push_back("ctlA");
  harness.AddSchedule(1, "Due at start", sites);

  harness.Start(10000);
  ASSERT_TRUE(harness.WaitForHistory("Due at start", 1, kJobBound));
  EXPECT_EQ("Completed", harness.Outcomes("Due at start")["ctlA"]);
  EXPECT_EQ(1, harness.Requests("/ctlA/"));
  EXPECT_EQ(1, harness.Requests("/ctlA/post"));
  EXPECT_EQ(0, harness.TraceCount("Current page is : about:blank"));
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultStart, FirstSiteOfAScheduleDueAtStartGetsItsOwnPage) { ExpectFirstRealSiteCompletes(0); }

TEST(FaultStart, SiteAfterManyMissingOnesGetsItsOwnPage) { ExpectFirstRealSiteCompletes(40); }

}  // namespace
}  // namespace veltrane::testing
