// Copies the rows of a pair of SQLite files into a PostgreSQL store: every
// table the store has (schedule, pressrelease, account, history, the job
// journal from vt.dat; subscription from subscription2.dat), with the columns
// both sides have, in one transaction that keeps instances from adding rows
// meanwhile. Several folders may be copied into one server: a schedule,
// history or job row whose id is taken there by another row gets a new id,
// and every reference to it (job.schedule_id, job.history_id, job_site.job_id,
// job_site.schedule_id) follows. Copying the same folder again adds nothing:
// the server remembers which rows of which folder it holds (the folder is
// known by the random id in its db/copy-id, made at its first copy), and a
// row found identical under its own id counts as copied. A press release,
// login or site whose name the server has already is left as the server has
// it. Unfinished jobs arrive claimable at once, so that an instance finishes
// them. Stop the service that owns the files first. Errors throw StorageError.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "storage/database_files.h"

namespace veltrane {

struct CopiedTable {
  std::string table;
  int rows = 0;     // rows written to the server
  int already = 0;  // rows the server held already (the same id or name), not written
  std::vector<std::pair<std::int64_t, std::int64_t>> renumbered;  // file id, server id
  std::vector<std::string> differing;  // names kept as the server has them, unlike the file's
};

std::vector<CopiedTable> CopySqliteToPostgres(const DatabasePaths& files, const std::string& url);

}  // namespace veltrane
