// StorageError: what every store and the SQLite core throw. It carries the
// backend's result code, its own text for the failure (the detail), the
// database it happened on and, when a statement was running, that statement
// as it ran (bound values written in as SQL literals). Message() is
// "<code name>[<code>]: <detail>", the form the service's traces and message
// boxes show; code 1000 marks an error of the storage layer itself, 1001 one
// of a PostgreSQL server (POSTGRESQL_ERROR).
#pragma once

#include <stdexcept>
#include <string>

namespace veltrane {

class StorageError : public std::runtime_error {
 public:
  static constexpr int kLayerError = 1000;
  static constexpr int kServerError = 1001;

  // What went wrong, for callers that answer differently (the admin tool's
  // exit codes, the scheduler's busy retries).
  enum class Kind {
    Failure,       // anything else
    Missing,       // no database there (and none was to be created)
    Directory,     // a directory where the database file should be
    NotADatabase,  // the file holds something else
    MissingTable,  // a table the store needs is absent; Detail() names it
    Damaged,       // the database is corrupt
    Refused,       // a constraint refused the change
    Busy,          // locked by another connection beyond the busy wait
    Unreachable,   // the database server cannot be reached (down, or the network cut)
  };

  StorageError(int code, std::string detail, std::string where = {});
  StorageError(Kind kind, int code, std::string detail, std::string where);

  int Code() const { return code_; }
  Kind What() const { return kind_; }
  const std::string& Detail() const { return detail_; }
  const char* Message() const { return what(); }
  const std::string& Where() const { return where_; }
  const std::string& Statement() const { return statement_; }

  // The same error, naming the statement that was running.
  StorageError WithStatement(std::string statement) const;

  // The name of a result code: "SQLITE_BUSY" for 5, "CPPSQLITE_ERROR" for
  // 1000, "UNKNOWN_ERROR" for a code without a name here.
  static const char* CodeName(int code);
  static std::string MessageOf(int code, const std::string& detail);

 private:
  Kind kind_;
  int code_;
  std::string detail_;
  std::string where_;
  std::string statement_;
};

}  // namespace veltrane
