// What the SQLite stores share: one database file opened the store's way for
// each call, and a RowReader over a statement's current row. Internal to the
// SQLite stores.
#pragma once

#include <string>

#include "storage/press_release_columns.h"
#include "storage/sqlite_core.h"
#include "storage/sqlite_stores.h"

namespace veltrane {

class SqliteFile {
 public:
  SqliteFile(std::string path, SqliteStoreOptions options)
      : path_(std::move(path)), options_(options) {}

  // A connection of its own for one call: read-only for reads of a file that
  // must exist, and created when missing in the service's way.
  sqlite::Connection ForReading() const { return Open(sqlite::OpenMode::ReadOnly); }
  sqlite::Connection ForWriting() const { return Open(sqlite::OpenMode::ReadWrite); }
  // Opens the file and requires its tables.
  void Check(std::initializer_list<const char*> tables) const;
  const std::string& Path() const { return path_; }

 private:
  sqlite::Connection Open(sqlite::OpenMode existingMode) const;

  std::string path_;
  SqliteStoreOptions options_;
};

// Runs `body`, whose one statement is `sql` with `params`: an error that
// names no statement (the file would not open, say) is given that one.
template <typename Body>
auto NamingStatement(std::string_view sql, std::initializer_list<sqlite::Value> params, Body body)
    -> decltype(body()) {
  try {
    return body();
  } catch (const StorageError& error) {
    if (!error.Statement().empty()) throw;
    throw error.WithStatement(sqlite::ShownSql(sql, params));
  }
}

// Columns of the statement's current row by name; a missing name throws the
// layer's "Invalid field name requested".
class StatementRow : public RowReader {
 public:
  explicit StatementRow(const sqlite::Statement& statement) : statement_(statement) {}
  std::string Text(const char* column) override;
  std::optional<std::int64_t> Integer(const char* column) override;

 private:
  const sqlite::Statement& statement_;
};

}  // namespace veltrane
