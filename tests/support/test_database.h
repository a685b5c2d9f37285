// Test databases built from the project's schema, in a TempDir laid out as
// the service expects: <dir>/db/vt.dat and <dir>/db/subscription2.dat.
#pragma once

#include <string>

#include "storage/database_files.h"
#include "tests/support/temp_dir.h"

namespace veltrane::testing {

class TestDatabases {
 public:
  // Creates db/ and both files with their tables.
  TestDatabases();

  const std::string& Directory() const { return dir_.Path(); }
  std::string MainPath() const { return dir_.File("db/vt.dat"); }
  std::string SubscriptionPath() const { return dir_.File("db/subscription2.dat"); }
  // Both files, for the stores and the job.
  DatabasePaths Paths() const {
    DatabasePaths paths;
    paths.main = MainPath();
    paths.subscription = SubscriptionPath();
    return paths;
  }

  // Runs SQL on one file through a connection of its own; throws on failure.
  void Main(const std::string& sql) const;
  void Subscription(const std::string& sql) const;

  // Reads the first column of the first row as text ("" for NULL or no row).
  std::string MainScalar(const std::string& sql) const;

 private:
  TempDir dir_;
};

}  // namespace veltrane::testing
