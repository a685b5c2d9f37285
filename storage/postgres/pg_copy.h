// Copies the rows of a pair of SQLite files into a PostgreSQL store: every
// table the store has (schedule, pressrelease, account, history, the job
// journal from vt.dat; subscription from subscription2.dat), with the columns
// both sides have, in one transaction. Rows already there (the same key) are
// left as they are. Unfinished jobs arrive claimable at once, so that an
// instance finishes them. Stop the service that owns the files first.
// Errors throw StorageError.
#pragma once

#include <string>
#include <vector>

#include "storage/database_files.h"

namespace veltrane {

struct CopiedTable {
  std::string table;
  int rows = 0;  // rows read from the file; those already on the server are skipped
};

std::vector<CopiedTable> CopySqliteToPostgres(const DatabasePaths& files, const std::string& url);

}  // namespace veltrane
