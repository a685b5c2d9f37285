// The two database files beside the executable and the statements that create
// their tables. Tests and the admin tool create the tables from these texts;
// the service itself creates only the job journal's, when they are missing.
// New database files are private to their owner: they hold passwords.
#pragma once

#include <sys/types.h>

#include <string>

namespace veltrane {

inline constexpr const char* kMainDatabaseName = "db/vt.dat";
inline constexpr const char* kSubscriptionDatabaseName = "db/subscription2.dat";

// ExecutableDirectory() followed by the names above.
std::string MainDatabasePath();
std::string SubscriptionDatabasePath();

// Where the program's data is: the two database files, or a PostgreSQL
// server that holds every table of both (the files are not used then).
struct DatabasePaths {
  std::string main;          // db/vt.dat: schedule, pressrelease, account, history, the journal
  std::string subscription;  // db/subscription2.dat: subscription
  std::string server;        // a libpq connection string; empty: the files
};

// MainDatabasePath() and SubscriptionDatabasePath(): the files beside the
// program, and the server configured for it (ConfiguredDatabaseUrl).
DatabasePaths ProgramDatabasePaths();

// The mode of every database file the service or veltrane-admin creates.
inline constexpr mode_t kDatabaseFileMode = 0600;

// Creates `path` as an empty file of kDatabaseFileMode when nothing is there
// yet. SQLite would create it under the umask (0644 as a rule); it takes an
// empty file as a new database and gives its journals the file's mode. Does
// nothing for ":memory:", "" and "file:" URIs; a failure (no such directory,
// no permission) is left for SQLite's open to report in its own words.
void CreateDatabaseFileIfMissing(const std::string& path);

// CREATE statements (IF NOT EXISTS) for each file's tables. The main schema
// includes the job journal's tables, which JobJournalSchema gives alone, and
// the instance table.
const char* MainDatabaseSchema();
const char* JobJournalSchema();
const char* SubscriptionDatabaseSchema();

}  // namespace veltrane
