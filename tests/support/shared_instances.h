// SharedInstancesTest: a SharedServerTest that starts built service instances
// (VELTRANE_BINARY, as the test program defines it) on the shared store, each
// in a folder of its own with short page, poll and lease times, and prints
// their traces when the test has failed.
#pragma once

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/service_process.h"
#include "tests/support/shared_server_test.h"
#include "tests/support/temp_dir.h"

namespace veltrane::testing {

class SharedInstancesTest : public SharedServerTest {
 protected:
  using Environment = std::map<std::string, std::string>;

  void TearDown() override {
    if (HasFailure())
      for (std::size_t i = 0; i < instances.size(); ++i)
        std::fprintf(stderr, "--- instance %zu ---\n%s", i, instances[i]->ErrorLog().c_str());
  }

  // One more instance, reaching the store at `through` when given; `extra`
  // adds to or overrides its environment.
  ServiceProcess& StartInstance(const Environment& extra = {}, const std::string& through = "") {
    folders.push_back(std::make_unique<TempDir>());
    std::filesystem::create_directories(folders.back()->File("db"));
    instances.push_back(std::make_unique<ServiceProcess>(VELTRANE_BINARY, folders.back()->Path()));
    Environment environment = {{"VELTRANE_DATABASE_URL", through.empty() ? url : through},
                               {"VELTRANE_PAGE_TIMEOUT_MS", "20000"},
                               {"VELTRANE_POLL_INTERVAL_MS", "300"},
                               {"VELTRANE_LEASE_SECONDS", "3"}};
    for (const auto& [name, value] : extra) environment[name] = value;
    instances.back()->StartInOwnGroup(environment);
    return *instances.back();
  }

  std::vector<std::unique_ptr<TempDir>> folders;
  std::vector<std::unique_ptr<ServiceProcess>> instances;
};

}  // namespace veltrane::testing
