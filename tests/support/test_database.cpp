#include "tests/support/test_database.h"

#include <filesystem>

#include "storage/cppsqlite3.h"
#include "storage/database_files.h"

namespace veltrane::testing {
namespace {

void Run(const std::string& path, const std::string& sql) {
  CppSQLite3DB db;
  db.Open(path.c_str());
  db.RunStatement(sql.c_str());
}

}  // namespace

TestDatabases::TestDatabases() {
  std::filesystem::create_directories(dir_.File("db"));
  Run(MainPath(), MainDatabaseSchema());
  Run(SubscriptionPath(), SubscriptionDatabaseSchema());
}

void TestDatabases::Main(const std::string& sql) const { Run(MainPath(), sql); }

void TestDatabases::Subscription(const std::string& sql) const { Run(SubscriptionPath(), sql); }

std::string TestDatabases::MainScalar(const std::string& sql) const {
  // Read with the raw library, so that checks do not lean on the layer under test.
  sqlite3* connection = nullptr;
  std::string value;
  if (sqlite3_open_v2(MainPath().c_str(), &connection, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_busy_timeout(connection, 10000);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL)
      value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
  }
  sqlite3_close(connection);
  return value;
}

}  // namespace veltrane::testing
