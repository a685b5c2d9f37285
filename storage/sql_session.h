// The seam under every store: one session on one database, SQLite file or
// PostgreSQL server, through which each store is written once. Statements are
// written with "?" placeholders and bound values; the session turns them into
// its dialect's form, runs them, and gives their rows read whole. Every
// failure is a StorageError naming the statement as it ran (values written in
// as SQL literals). The few things the two dialects do differently are hooks
// here: the next id of an insert, locking, upserts, the row order of a table
// without an id, and what the schema of an open database looks like. A session
// belongs to one thread and one call of a store.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "storage/storage_error.h"

namespace veltrane::sql {

enum class Dialect { Sqlite, Postgres };

// A value bound to one "?": NULL, a whole number, a real number or a text (any bytes).
class Value {
 public:
  Value(std::nullptr_t) {}
  Value(int value) : value_(std::int64_t{value}) {}
  Value(std::int64_t value) : value_(value) {}
  Value(double value) : value_(value) {}
  Value(std::string text) : value_(std::move(text)) {}
  Value(const char* text) : value_(std::string(text)) {}
  Value(std::string_view text) : value_(std::string(text)) {}
  // None is NULL.
  Value(const std::optional<std::string>& text) {
    if (text) value_ = *text;
  }

  const std::variant<std::nullptr_t, std::int64_t, double, std::string>& Get() const {
    return value_;
  }

 private:
  std::variant<std::nullptr_t, std::int64_t, double, std::string> value_;
};
using Values = std::vector<Value>;

// `sql` with `params` written in place of its "?" as SQL literals.
std::string Shown(std::string_view sql, const Values& params);

// The rows of a statement, read whole. Columns are found by name (exact
// bytes); a NULL reads as "" or 0.
class Rows {
 public:
  struct Cell {
    bool null = true;
    std::string text;
    std::int64_t integer = 0;
    double real = 0.0;
  };

  Rows() = default;
  Rows(std::vector<std::string> names, std::string where, std::string shown)
      : names_(std::move(names)), where_(std::move(where)), shown_(std::move(shown)) {}
  void Add(std::vector<Cell> row) { rows_.push_back(std::move(row)); }

  int Count() const { return static_cast<int>(rows_.size()); }
  bool Empty() const { return rows_.empty(); }
  // The first column of that name, or -1.
  int FindColumn(std::string_view name) const;
  // As FindColumn; a missing name throws the layer's "Invalid field name requested".
  int ColumnIndex(const char* name) const;

  bool IsNull(int row, int column) const { return rows_[row][column].null; }
  const std::string& Text(int row, int column) const { return rows_[row][column].text; }
  std::int64_t Integer(int row, int column) const { return rows_[row][column].integer; }
  double Real(int row, int column) const { return rows_[row][column].real; }

 private:
  std::vector<std::string> names_;
  std::vector<std::vector<Cell>> rows_;
  std::string where_;
  std::string shown_;
};

class Session {
 public:
  virtual ~Session() = default;

  // One statement with its rows.
  virtual Rows Query(std::string_view sql, const Values& params = {}) = 0;
  // One statement; gives the rows it changed.
  virtual int Execute(std::string_view sql, const Values& params = {}) = 0;
  // An INSERT into a table whose key is the column "id"; gives the new row's id.
  virtual std::int64_t Insert(std::string_view sql, const Values& params) = 0;
  // Several statements without parameters (schema texts, kept statements).
  virtual void ExecuteScript(const std::string& sql) = 0;

  // A transaction that holds the write lock from its start.
  virtual void Begin() = 0;
  // A transaction that only reads, and reads one snapshot of the database
  // throughout: what another commits meanwhile is in none of its statements.
  virtual void BeginSnapshot() = 0;
  virtual void Commit() = 0;
  // Never throws: a rollback that fails is left to the database.
  virtual void Rollback() noexcept = 0;

  virtual sql::Dialect Dialect() const = 0;
  // True on a server that several service instances share.
  bool Shared() const { return Dialect() == sql::Dialect::Postgres; }
  // The table's columns; none when there is no such table.
  virtual std::set<std::string> Columns(const std::string& table) = 0;
  // A StorageError of kind MissingTable, naming the first table not there.
  virtual void RequireTables(std::initializer_list<const char*> tables) = 0;
  // Keeps others from adding rows to `table` until the transaction ends, so
  // that an id computed from the rows there stays free.
  virtual void LockForAdding(const char* table) = 0;
  // "INSERT ..." of `columns` that replaces the row whose `keys` are the same.
  virtual std::string Upsert(const char* table, const std::vector<const char*>& columns,
                             const std::vector<const char*>& keys) const = 0;
  // The column that keeps the order rows were added in: a file's rowid, or
  // `otherwise` on a server; both after `prefix` ("s.", say).
  virtual std::string InsertionOrder(const std::string& prefix,
                                     const std::string& otherwise) const = 0;
  // A condition true for rows whose `column` holds a whole number.
  virtual std::string IsInteger(const char* column) const = 0;
};

enum class TransactionKind { Write, Snapshot };

// BEGIN at construction; ROLLBACK at destruction unless Commit ran. A
// snapshot has nothing to commit: it ends at destruction.
class Transaction {
 public:
  explicit Transaction(Session& session, TransactionKind kind = TransactionKind::Write)
      : session_(session) {
    if (kind == TransactionKind::Snapshot)
      session_.BeginSnapshot();
    else
      session_.Begin();
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction() {
    if (open_) session_.Rollback();
  }
  void Commit() {
    session_.Commit();
    open_ = false;
  }

 private:
  Session& session_;
  bool open_ = true;
};

enum class Access { Read, Write };

// Where a store's tables are: a new session for each call, so nothing stays
// open between uses. Safe from any thread.
class Database {
 public:
  virtual ~Database() = default;
  virtual std::unique_ptr<Session> Open(Access access) const = 0;
};

// Runs `body`, whose one statement is `sql` with `params`: an error that
// names no statement (the database would not open, say) is given that one.
template <typename Body>
auto NamingStatement(std::string_view sql, const Values& params, Body body) -> decltype(body()) {
  try {
    return body();
  } catch (const StorageError& error) {
    if (!error.Statement().empty()) throw;
    throw error.WithStatement(Shown(sql, params));
  }
}

}  // namespace veltrane::sql
