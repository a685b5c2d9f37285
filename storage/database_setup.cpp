#include "storage/database_setup.h"

#include "storage/database_files.h"
#include "storage/sqlite_core.h"

namespace veltrane {
namespace {

const char* SchemaOf(DatabaseFile file) {
  return file == DatabaseFile::Main ? MainDatabaseSchema() : SubscriptionDatabaseSchema();
}

}  // namespace

std::vector<const char*> TablesOf(DatabaseFile file) {
  if (file == DatabaseFile::Main) return {"schedule", "pressrelease", "account", "history"};
  return {"subscription"};
}

void CreateTables(const std::string& path, DatabaseFile file, int busyWaitMs) {
  sqlite::Connection(path, sqlite::OpenMode::Create, busyWaitMs).Execute(SchemaOf(file));
}

bool IsEmptyDatabase(const std::string& path, int busyWaitMs) {
  return sqlite::Connection(path, sqlite::OpenMode::ReadOnly, busyWaitMs).IsEmpty();
}

bool AddTablesIfEmpty(const std::string& path, DatabaseFile file, int busyWaitMs) {
  sqlite::Connection database(path, sqlite::OpenMode::ReadWrite, busyWaitMs);
  sqlite::Transaction transaction(database);
  if (!database.IsEmpty()) return false;
  database.Execute(SchemaOf(file));
  transaction.Commit();
  return true;
}

std::vector<std::string> MissingTables(const std::string& path, DatabaseFile file, int busyWaitMs) {
  sqlite::Connection database(path, sqlite::OpenMode::ReadOnly, busyWaitMs);
  std::vector<std::string> missing;
  for (const char* table : TablesOf(file))
    if (!database.HasTable(table)) missing.push_back(table);
  return missing;
}

}  // namespace veltrane
