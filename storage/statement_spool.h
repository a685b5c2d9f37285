// Statement spool: SQL that could not be written to its database is kept in a
// file until it can. A spooled statement is saved as a file of its own in the
// spool directory (written under a temporary name, synced to disk, mode 0600,
// then renamed, so a half-written file is never run), and run again later;
// its file is deleted once it has run. A statement that must not land twice
// guards itself (INSERT ... WHERE NOT EXISTS), since a crash between its
// commit and the deletion runs it again. Safe from any thread; the rename
// keeps a reader from seeing a file that is being written.
#pragma once

#include <functional>
#include <string>

#include "platform/trace.h"

namespace veltrane {

// Saves `sql` in `directory`; the file's path, or "" when it cannot be written.
std::string SpoolStatement(const std::string& directory, const std::string& sql);

// Runs the spooled statements of `directory` against the database at
// `databasePath`, oldest first, deleting each file once it has run; stops at
// the first that fails. Gives how many ran. Traces what it ran and what failed.
int RunSpooledStatements(const std::string& directory, const std::string& databasePath,
                         TraceSink& trace);
// The same, with `run` writing each statement to its database (a StorageError
// when it cannot).
int RunSpooledStatements(const std::string& directory,
                         const std::function<void(const std::string& sql)>& run, TraceSink& trace);

}  // namespace veltrane
