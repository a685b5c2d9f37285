// The SQLite core under every database use of the program: an owned
// connection, a prepared statement with bound parameters, and a transaction
// (BEGIN IMMEDIATE, rolled back unless committed). Texts cross with their byte
// length, NUL bytes and all. A file the core creates is made private first
// (CreateDatabaseFileIfMissing). Every failure is a StorageError that names
// the file and, for a statement, the statement as it ran. Objects belong to
// one thread; a statement must die before its connection.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "storage/storage_error.h"

namespace veltrane::sqlite {

// A value for one "?" of a statement. A text is only viewed: it must live
// until the statement is built.
class Value {
 public:
  Value(std::nullptr_t) : kind_(Kind::Null) {}
  Value(int value) : kind_(Kind::Integer), integer_(value) {}
  Value(std::int64_t value) : kind_(Kind::Integer), integer_(value) {}
  Value(double value) : kind_(Kind::Real), real_(value) {}
  Value(std::string_view text) : kind_(Kind::Text), text_(text) {}
  Value(const char* text) : kind_(Kind::Text), text_(text) {}
  Value(const std::string& text) : kind_(Kind::Text), text_(text) {}

  // The value written as an SQL literal: a text between single quotes with
  // its quotes doubled, a number as SqlNumberText writes it, or NULL.
  std::string Literal() const;
  int BindTo(sqlite3_stmt* statement, int index) const;

 private:
  enum class Kind { Null, Integer, Real, Text };
  Kind kind_;
  std::int64_t integer_ = 0;
  double real_ = 0.0;
  std::string_view text_;
};

// `sql` with `params` written in place of its "?" as SQL literals: the
// statement as it runs, for error texts and kept statements.
std::string ShownSql(std::string_view sql, std::span<const Value> params);
inline std::string ShownSql(std::string_view sql, std::initializer_list<Value> params) {
  return ShownSql(sql, std::span<const Value>(params.begin(), params.size()));
}

enum class OpenMode {
  Create,     // open, creating a missing file (made 0600 first), as the service does
  ReadWrite,  // the file must exist
  ReadOnly,   // the file must exist; nothing is written
};

class Statement;

class Connection {
 public:
  static constexpr int kDefaultBusyWait = 60000;

  Connection() = default;
  Connection(const std::string& path, OpenMode mode, int busyWaitMs = kDefaultBusyWait);

  // Opens `path`; a connection already open is closed first. The busy wait
  // set before applies.
  void Open(const std::string& path, OpenMode mode);
  void Close() { handle_.reset(); }
  bool IsOpen() const { return handle_ != nullptr; }
  void SetBusyWait(int milliseconds);
  int BusyWait() const { return busyWait_; }

  // Runs statements without parameters (schema texts, BEGIN, COMMIT).
  void Execute(const char* sql);
  int Changes() const;
  std::int64_t LastInsertId() const;

  bool HasTable(std::string_view name);
  // A StorageError of kind MissingTable, naming the first table not there.
  void RequireTables(std::initializer_list<const char*> tables);
  // Whether the file holds no table, index or view at all.
  bool IsEmpty();

  sqlite3* Handle() const;  // throws "Database not open" when not open
  const std::string& Path() const { return path_; }
  // The connection's last error as a StorageError.
  StorageError LastError(int code) const;

 private:
  struct Closer {
    void operator()(sqlite3* connection) const { sqlite3_close(connection); }
  };
  std::unique_ptr<sqlite3, Closer> handle_;
  std::string path_;
  int busyWait_ = kDefaultBusyWait;
};

enum class Preparation {
  Current,  // sqlite3_prepare_v2: a failed step reports its own code
  Legacy,   // sqlite3_prepare: a failed step says SQLITE_ERROR; finalising tells the code
};

class Statement {
 public:
  // Prepares the first statement of `sql` (the rest is ignored) and binds
  // `params` to its "?" in order.
  Statement(Connection& connection, std::string_view sql, std::span<const Value> params,
            Preparation preparation = Preparation::Current);
  Statement(Connection& connection, std::string_view sql, std::initializer_list<Value> params = {},
            Preparation preparation = Preparation::Current)
      : Statement(connection, sql, std::span<const Value>(params.begin(), params.size()),
                  preparation) {}
  // Takes a statement prepared elsewhere; with `owns` it is finalised here.
  Statement(sqlite3* connection, sqlite3_stmt* statement, bool owns);
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&&) = delete;
  Statement(const Statement&) = delete;
  ~Statement();

  // One step: true on a row, false at the end; throws on an error.
  bool Step();
  // Steps to the end, for statements that return no rows.
  void Run();
  // One step without throwing: SQLite's result.
  int StepResult();
  // Finalises now, owned or not, and gives SQLite's result (0 with nothing to finalise).
  int Finalize();
  bool Active() const { return statement_ != nullptr; }
  bool Owns() const { return owns_; }

  int ColumnCount() const;
  const char* ColumnName(int index) const { return sqlite3_column_name(statement_, index); }
  // The first column of that name (exact bytes), or -1.
  int FindColumn(const char* name) const;
  // As FindColumn; a missing name throws the layer's "Invalid field name requested".
  int ColumnIndex(const char* name) const;
  int ColumnType(int index) const;
  bool IsNull(int index) const { return ColumnType(index) == SQLITE_NULL; }
  const char* CText(int index) const;  // null for NULL; ends at a NUL byte
  std::string Text(int index) const;   // the stored bytes; "" for NULL
  int Int(int index) const;
  std::int64_t Integer(int index) const;
  double Real(int index) const;

  // The statement as it ran, with its bound values written in.
  const std::string& Shown() const { return shown_; }
  // SQLite's error on this statement's connection, naming the statement.
  StorageError Error(int code) const;

 private:
  sqlite3* connection_;
  sqlite3_stmt* statement_ = nullptr;
  bool owns_ = true;
  std::string where_;
  std::string shown_;
};

// BEGIN IMMEDIATE at construction, so the write lock is taken before anything
// is checked; ROLLBACK at destruction unless Commit ran.
class Transaction {
 public:
  explicit Transaction(Connection& connection);
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction();
  void Commit();

 private:
  Connection& connection_;
  bool open_ = true;
};

}  // namespace veltrane::sqlite
