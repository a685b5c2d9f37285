// Owning wrappers over SQLite for the admin tool: a connection, a prepared
// statement with bound parameters, and a transaction that rolls back unless
// committed. Every failure becomes an AdminError: a file that is missing, is
// not an SQLite database or lacks a table is a data error; a busy or
// unwritable file is a failure. Texts cross with their byte length, NUL bytes
// and all. A file the tool creates gets mode 0600 (kDatabaseFileMode). One
// thread; a statement dies before its database.
#pragma once

#include <sqlite3.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace veltrane::admin {

class Statement {
 public:
  Statement(sqlite3* connection, std::string_view sql, std::string path);

  // Parameters count from 1, as in the SQL text's "?" order.
  Statement& Bind(int index, std::string_view text);
  Statement& Bind(int index, double value);
  Statement& BindInteger(int index, long long value);
  Statement& BindNull(int index);

  // Steps once; true while a row is there.
  bool Step();
  // Steps to the end, for statements that return no rows.
  void Run();

  bool IsNull(int column) const;
  std::string Text(int column) const;  // "" for NULL
  double Real(int column) const;
  long long Integer(int column) const;

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
  };
  void Check(int result) const;

  sqlite3* connection_;
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
  std::string path_;
};

class Database {
 public:
  enum class Access { kReadOnly, kReadWrite };

  // Opens a file that must exist and hold every table in `tables`.
  static Database OpenExisting(const std::string& path, Access access,
                               std::initializer_list<const char*> tables);
  // Opens or creates a file (for init); a new file is readable by its owner only.
  static Database OpenOrCreate(const std::string& path);

  Statement Prepare(std::string_view sql) { return Statement(connection_.get(), sql, path_); }
  // Runs statements without parameters (schema texts, BEGIN, COMMIT).
  void Execute(const char* sql);
  bool HasTable(std::string_view name);
  // Rows changed by the last INSERT, UPDATE or DELETE.
  int Changes() const { return sqlite3_changes(connection_.get()); }
  // Whether the file holds no table, index or view at all.
  bool IsEmpty();
  const std::string& Path() const { return path_; }

 private:
  struct Close {
    void operator()(sqlite3* connection) const { sqlite3_close(connection); }
  };
  Database(std::string path, int flags);

  std::string path_;
  std::unique_ptr<sqlite3, Close> connection_;
};

// BEGIN IMMEDIATE at construction, so a command takes the write lock before it
// checks anything; ROLLBACK at destruction unless Commit ran.
class Transaction {
 public:
  explicit Transaction(Database& database);
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction();
  void Commit();

 private:
  Database& database_;
  bool open_ = true;
};

// Maps an SQLite result code and message on a file to the AdminError that fits.
[[noreturn]] void ThrowDatabaseError(int code, const std::string& path, const std::string& detail);

}  // namespace veltrane::admin
