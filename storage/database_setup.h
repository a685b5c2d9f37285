// Making the tables of the two database files, for veltrane-admin init and
// the tools that build databases of their own. Each call opens its own
// connection (waiting up to `busyWaitMs` for a lock) and closes it; every
// failure is a StorageError.
#pragma once

#include <string>
#include <vector>

namespace veltrane {

enum class DatabaseFile { Main, Subscription };

// The tables the file is made with and then expected to have.
std::vector<const char*> TablesOf(DatabaseFile file);

// Creates the file's tables where missing, creating the database when
// nothing is at `path` (mode 0600).
void CreateTables(const std::string& path, DatabaseFile file, int busyWaitMs);
// Whether the database at `path`, which must exist, holds no table, index or view.
bool IsEmptyDatabase(const std::string& path, int busyWaitMs);
// Adds the file's tables to the existing database at `path` in one
// transaction, if it is still empty then; false when something filled it.
bool AddTablesIfEmpty(const std::string& path, DatabaseFile file, int busyWaitMs);
// The file's tables that the existing database at `path` lacks.
std::vector<std::string> MissingTables(const std::string& path, DatabaseFile file, int busyWaitMs);

}  // namespace veltrane
