// Spool: what could not be written to its database waits in a file of its own
// in the spool directory until it can (written under a temporary name, synced
// to disk, mode 0600, then renamed, so a half-written file is never taken
// up). A kept history row is kept as data: the row, the job it finishes and
// when, and the instance that held the job, then an end marker, so that a
// file cut short (copied in part, a disk that lost its tail) is told from a
// whole one. Files of older versions hold SQL statements for the SQLite files
// wrapped in BEGIN ... COMMIT; whoever applies them runs the statements in a
// transaction of its own, and one whose COMMIT is missing is incomplete. A
// file that cannot be taken up is moved to spool-failed/ beside the others.
// Safe from any thread; the rename keeps a reader from seeing a file that is
// being written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "storage/history_store.h"

namespace veltrane {

struct KeptHistoryRow {
  HistoryRow row;
  std::int64_t finishesJob = 0;  // 0: none
  double now = 0.0;              // when the job finished
  std::string holder;            // on a shared store, the instance that held the job
};

// Saves the row in `directory`; the file's path, or "" when it cannot be written.
std::string KeepHistoryRow(const std::string& directory, const KeptHistoryRow& kept);
// Saves SQL statements as older versions did; the file's path, or "".
std::string SpoolStatement(const std::string& directory, const std::string& sql);

// A spooled file, oldest first.
struct SpooledFile {
  std::string path;
  std::optional<KeptHistoryRow> row;  // a kept row, when the file holds one
  std::string statements;  // a file of an older version: its SQL without BEGIN and COMMIT
  std::string unusable;    // neither, and why ("incomplete: ..."): never to be taken up
};
std::vector<SpooledFile> SpooledFiles(const std::string& directory);

// The statements of an older version's file, to be run in a transaction of
// the caller's: the file's own BEGIN and COMMIT are taken off. Nothing, with
// `why` set, when the file is incomplete (BEGIN without COMMIT, a text or
// comment left open, no statement) or controls transactions elsewhere.
std::optional<std::string> SpooledStatements(const std::string& text, std::string& why);

// Moves a spooled file to the spool-failed/ folder beside it (made 0700 when
// missing); its new path, or "" when it cannot be moved.
std::string MoveToFailed(const std::string& path);

}  // namespace veltrane
