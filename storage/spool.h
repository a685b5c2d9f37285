// Spool: what could not be written to its database waits in a file of its own
// in the spool directory until it can (written under a temporary name, synced
// to disk, mode 0600, then renamed, so a half-written file is never taken
// up). A kept history row is kept as data: the row, the job it finishes and
// when, and the instance that held the job. Files of older versions hold SQL
// statements of their database's dialect; they are taken up as they are.
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
  std::string statements;             // a file of an older version: its SQL
  bool unreadable = false;            // neither: kept, never taken up
};
std::vector<SpooledFile> SpooledFiles(const std::string& directory);

}  // namespace veltrane
