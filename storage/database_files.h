// The two database files beside the executable and the statements that create
// their tables. Tests and the admin tool create the tables from these texts;
// the service itself creates only the job journal's, when they are missing.
#pragma once

#include <string>

namespace veltrane {

inline constexpr const char* kMainDatabaseName = "db/vt.dat";
inline constexpr const char* kSubscriptionDatabaseName = "db/subscription2.dat";

// ExecutableDirectory() followed by the names above.
std::string MainDatabasePath();
std::string SubscriptionDatabasePath();

// CREATE statements (IF NOT EXISTS) for each file's tables. The main schema
// includes the job journal's tables, which JobJournalSchema gives alone.
const char* MainDatabaseSchema();
const char* JobJournalSchema();
const char* SubscriptionDatabaseSchema();

}  // namespace veltrane
