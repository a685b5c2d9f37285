#include "storage/cppsqlite3.h"

#include <cstring>
#include <utility>

#include "storage/database_files.h"

namespace veltrane {

// ---- CppSQLite3Exception -------------------------------------------------

CppSQLite3Exception::CppSQLite3Exception(int code, char* detail, bool takeDetail)
    : code_(code),
      message_(sqlite3_mprintf("%s[%d]: %s", CodeName(code), code, detail ? detail : "")) {
  if (takeDetail && detail) sqlite3_free(detail);
}

CppSQLite3Exception::CppSQLite3Exception(int code, const char* detail)
    : CppSQLite3Exception(code, const_cast<char*>(detail), false) {}

CppSQLite3Exception::CppSQLite3Exception(const CppSQLite3Exception& other)
    : code_(other.code_),
      message_(other.message_ ? sqlite3_mprintf("%s", other.message_) : nullptr) {}

CppSQLite3Exception::~CppSQLite3Exception() { sqlite3_free(message_); }

const char* CppSQLite3Exception::CodeName(int code) {
  switch (code) {
    case 0: return "SQLITE_OK";
    case 1: return "SQLITE_ERROR";
    case 2: return "SQLITE_INTERNAL";
    case 3: return "SQLITE_PERM";
    case 4: return "SQLITE_ABORT";
    case 5: return "SQLITE_BUSY";
    case 6: return "SQLITE_LOCKED";
    case 7: return "SQLITE_NOMEM";
    case 8: return "SQLITE_READONLY";
    case 9: return "SQLITE_INTERRUPT";
    case 10: return "SQLITE_IOERR";
    case 11: return "SQLITE_CORRUPT";
    case 12: return "SQLITE_NOTFOUND";
    case 13: return "SQLITE_FULL";
    case 14: return "SQLITE_CANTOPEN";
    case 15: return "SQLITE_PROTOCOL";
    case 16: return "SQLITE_EMPTY";
    case 17: return "SQLITE_SCHEMA";
    case 18: return "SQLITE_TOOBIG";
    case 19: return "SQLITE_CONSTRAINT";
    case 20: return "SQLITE_MISMATCH";
    case 21: return "SQLITE_MISUSE";
    case 22: return "SQLITE_NOLFS";
    case 23: return "SQLITE_AUTH";
    case 24: return "SQLITE_FORMAT";
    case 25: return "SQLITE_RANGE";
    case 100: return "SQLITE_ROW";
    case 101: return "SQLITE_DONE";
    case CppSQLite3Exception::kLayerError: return "CPPSQLITE_ERROR";
    default: return "UNKNOWN_ERROR";
  }
}

// ---- CppSQLite3Query ------------------------------------------------------

CppSQLite3Query::CppSQLite3Query(sqlite3* connection, sqlite3_stmt* statement, bool atEnd,
                                 bool ownsStatement)
    : connection_(connection),
      statement_(statement),
      atEnd_(atEnd),
      columnCount_(statement ? sqlite3_column_count(statement) : 0),
      ownsStatement_(ownsStatement) {}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : connection_(other.connection_),
      statement_(std::exchange(other.statement_, nullptr)),
      atEnd_(other.atEnd_),
      columnCount_(other.columnCount_),
      ownsStatement_(std::exchange(other.ownsStatement_, false)) {}

CppSQLite3Query::~CppSQLite3Query() {
  try {
    Release();
  } catch (...) {
    // A destructor must not throw; the statement is gone either way.
  }
}

bool CppSQLite3Query::AtEnd() {
  RequireStatement();
  return atEnd_;
}

void CppSQLite3Query::Advance() {
  RequireStatement();
  const int result = sqlite3_step(statement_);
  if (result == SQLITE_DONE) {
    atEnd_ = true;
  } else if (result != SQLITE_ROW) {
    // Legacy-prepared statements report the specific error only when finalised.
    const int code = sqlite3_finalize(statement_);
    statement_ = nullptr;
    throw CppSQLite3Exception(code, sqlite3_errmsg(connection_));
  }
}

void CppSQLite3Query::Release() {
  if (!ownsStatement_ || !statement_) return;
  const int code = sqlite3_finalize(statement_);
  statement_ = nullptr;
  if (code != SQLITE_OK) throw CppSQLite3Exception(code, sqlite3_errmsg(connection_));
}

int CppSQLite3Query::ColumnIndex(const char* name) {
  RequireStatement();
  if (name) {
    for (int index = 0; index < columnCount_; ++index) {
      const char* column = sqlite3_column_name(statement_, index);
      if (column && std::strcmp(name, column) == 0) return index;
    }
  }
  throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, "Invalid field name requested");
}

int CppSQLite3Query::ColumnType(int index) {
  RequireStatement();
  RequireIndex(index);
  return sqlite3_column_type(statement_, index);
}

const char* CppSQLite3Query::TextOf(const char* name) {
  const int index = ColumnIndex(name);
  return reinterpret_cast<const char*>(sqlite3_column_text(statement_, index));
}

std::string CppSQLite3Query::BytesOf(const char* name) {
  const int index = ColumnIndex(name);
  const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, index));
  if (!text) return {};
  return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement_, index)));
}

long long CppSQLite3Query::Int64Of(const char* name, long long defaultValue) {
  return Int64Of(ColumnIndex(name), defaultValue);
}

long long CppSQLite3Query::Int64Of(int index, long long defaultValue) {
  if (ColumnType(index) == SQLITE_NULL) return defaultValue;
  return sqlite3_column_int64(statement_, index);
}

int CppSQLite3Query::IntOf(const char* name, int defaultValue) {
  return IntOf(ColumnIndex(name), defaultValue);
}

int CppSQLite3Query::IntOf(int index, int defaultValue) {
  if (ColumnType(index) == SQLITE_NULL) return defaultValue;
  return sqlite3_column_int(statement_, index);
}

double CppSQLite3Query::RealOf(const char* name, double defaultValue) {
  return RealOf(ColumnIndex(name), defaultValue);
}

double CppSQLite3Query::RealOf(int index, double defaultValue) {
  if (ColumnType(index) == SQLITE_NULL) return defaultValue;
  return sqlite3_column_double(statement_, index);
}

void CppSQLite3Query::RequireStatement() const {
  if (!statement_)
    throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, "Null Virtual Machine pointer");
}

void CppSQLite3Query::RequireIndex(int index) const {
  if (index < 0 || index > columnCount_ - 1)
    throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, "Invalid field index requested");
}

// ---- CppSQLite3DB -------------------------------------------------------------

CppSQLite3DB::~CppSQLite3DB() { Close(); }

void CppSQLite3DB::Open(const char* path) {
  if (path) CreateDatabaseFileIfMissing(path);
  const int result = sqlite3_open(path, &connection_);
  if (result != SQLITE_OK) throw CppSQLite3Exception(result, sqlite3_errmsg(connection_));
  sqlite3_busy_timeout(connection_, busyWait_);
}

void CppSQLite3DB::Close() {
  if (!connection_) return;
  sqlite3_close(connection_);
  connection_ = nullptr;
}

void CppSQLite3DB::SetBusyWait(int milliseconds) {
  busyWait_ = milliseconds;
  if (connection_) sqlite3_busy_timeout(connection_, busyWait_);
}

int CppSQLite3DB::RunStatement(const char* sql) {
  RequireOpen();
  char* error = nullptr;
  const int result = sqlite3_exec(connection_, sql, nullptr, nullptr, &error);
  if (result != SQLITE_OK) throw CppSQLite3Exception(result, error, true);
  return sqlite3_changes(connection_);
}

CppSQLite3Query CppSQLite3DB::RunQuery(const char* sql) {
  RequireOpen();
  sqlite3_stmt* statement = Prepare(sql);
  const int result = sqlite3_step(statement);
  if (result == SQLITE_DONE) return CppSQLite3Query(connection_, statement, true, true);
  if (result == SQLITE_ROW) return CppSQLite3Query(connection_, statement, false, true);
  const int code = sqlite3_finalize(statement);
  throw CppSQLite3Exception(code, sqlite3_errmsg(connection_));
}

sqlite3_stmt* CppSQLite3DB::Prepare(const char* sql) {
  RequireOpen();
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  const int result = sqlite3_prepare(connection_, sql, -1, &statement, &tail);
  if (result != SQLITE_OK) throw CppSQLite3Exception(result, sqlite3_errmsg(connection_));
  return statement;
}

void CppSQLite3DB::RequireOpen() const {
  if (!connection_)
    throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, "Database not open");
}

}  // namespace veltrane
