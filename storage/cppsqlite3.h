// The database access layer: a connection (CppSQLite3DB), a forward-only
// query cursor (CppSQLite3Query) and the error thrown on every failure
// (CppSQLite3Exception). Every user makes its own connection on its stack,
// opens the file, runs one or two statements and lets it close. Objects are
// used by one thread only; a query must die before its connection closes.
// A thin layer over the SQLite core (sqlite_core.h): the names, messages and
// behaviour here are the service's own.
#pragma once

#include <sqlite3.h>

#include <string>

#include "storage/sqlite_core.h"

namespace veltrane {

class CppSQLite3Exception {
 public:
  // Code 1000 marks an error of the layer itself.
  static constexpr int kLayerError = StorageError::kLayerError;

  // The message is "<code name>[<code>]: <detail>"; a null detail counts as
  // empty. With takeDetail set, the detail is released with sqlite3_free.
  CppSQLite3Exception(int code, char* detail, bool takeDetail);
  CppSQLite3Exception(int code, const char* detail);
  // The same code and detail as an error of the core.
  explicit CppSQLite3Exception(const StorageError& error);
  CppSQLite3Exception(const CppSQLite3Exception& other);
  CppSQLite3Exception& operator=(const CppSQLite3Exception&) = delete;
  virtual ~CppSQLite3Exception();

  int Code() const { return code_; }
  // Never null for an object made by the constructors above.
  const char* Message() const { return message_ ? message_ : ""; }

  static const char* CodeName(int code);

 private:
  int code_;
  char* message_;
};

class CppSQLite3Query {
 public:
  // Wraps a prepared statement; with ownsStatement the query finalises it.
  // RunQuery is the normal way to get one.
  CppSQLite3Query(sqlite3* connection, sqlite3_stmt* statement, bool atEnd, bool ownsStatement);
  CppSQLite3Query(sqlite::Statement statement, bool atEnd);
  CppSQLite3Query(CppSQLite3Query&& other) noexcept;
  CppSQLite3Query& operator=(CppSQLite3Query&&) = delete;
  CppSQLite3Query(const CppSQLite3Query&) = delete;
  // Releases the statement; an error while releasing is discarded.
  virtual ~CppSQLite3Query();

  bool AtEnd();
  void Advance();
  void Release();

  int ColumnCount() const { return columnCount_; }
  int ColumnIndex(const char* name);
  int ColumnType(int index);

  // Null for SQL NULL.
  const char* TextOf(const char* name);
  // The whole text of a column, NUL bytes included; "" for SQL NULL.
  std::string BytesOf(const char* name);
  int IntOf(const char* name, int defaultValue);
  int IntOf(int index, int defaultValue);
  long long Int64Of(const char* name, long long defaultValue);
  long long Int64Of(int index, long long defaultValue);
  double RealOf(const char* name, double defaultValue);
  double RealOf(int index, double defaultValue);

 private:
  void RequireStatement() const;
  void RequireIndex(int index) const;
  [[noreturn]] void ThrowStepError();

  sqlite::Statement statement_;
  bool atEnd_;
  int columnCount_;
};

class CppSQLite3DB {
 public:
  static constexpr int kDefaultBusyWait = 60000;

  CppSQLite3DB() = default;
  CppSQLite3DB(const CppSQLite3DB&) = delete;
  CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;
  virtual ~CppSQLite3DB() = default;

  // Opens the file, creating a missing one as an empty database readable and
  // writable by its owner only (mode 0600).
  void Open(const char* path);
  void Close() { connection_.Close(); }
  void SetBusyWait(int milliseconds) { connection_.SetBusyWait(milliseconds); }
  int BusyWait() const { return connection_.BusyWait(); }
  bool IsOpen() const { return connection_.IsOpen(); }

  // Executes one or more statements; returns the rows the last one changed.
  int RunStatement(const char* sql);
  // Prepares one statement and steps it once.
  CppSQLite3Query RunQuery(const char* sql);

 private:
  void RequireOpen() const;

  sqlite::Connection connection_;
};

}  // namespace veltrane
