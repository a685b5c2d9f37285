#include "storage/cppsqlite3.h"

#include <optional>
#include <utility>

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

CppSQLite3Exception::CppSQLite3Exception(const StorageError& error)
    : CppSQLite3Exception(error.Code(), error.Detail().c_str()) {}

const char* CppSQLite3Exception::CodeName(int code) { return StorageError::CodeName(code); }

// ---- CppSQLite3Query ------------------------------------------------------

CppSQLite3Query::CppSQLite3Query(sqlite3* connection, sqlite3_stmt* statement, bool atEnd,
                                 bool ownsStatement)
    : CppSQLite3Query(sqlite::Statement(connection, statement, ownsStatement), atEnd) {}

CppSQLite3Query::CppSQLite3Query(sqlite::Statement statement, bool atEnd)
    : statement_(std::move(statement)), atEnd_(atEnd), columnCount_(statement_.ColumnCount()) {}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : statement_(std::move(other.statement_)),
      atEnd_(other.atEnd_),
      columnCount_(other.columnCount_) {}

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

void CppSQLite3Query::ThrowStepError() {
  // Legacy-prepared statements report the specific error only when finalised.
  const int code = statement_.Finalize();
  throw CppSQLite3Exception(statement_.Error(code));
}

void CppSQLite3Query::Advance() {
  RequireStatement();
  const int result = statement_.StepResult();
  if (result == SQLITE_DONE)
    atEnd_ = true;
  else if (result != SQLITE_ROW)
    ThrowStepError();
}

void CppSQLite3Query::Release() {
  if (!statement_.Owns() || !statement_.Active()) return;
  const int code = statement_.Finalize();
  if (code != SQLITE_OK) throw CppSQLite3Exception(statement_.Error(code));
}

int CppSQLite3Query::ColumnIndex(const char* name) {
  RequireStatement();
  const int index = statement_.FindColumn(name);
  if (index < 0)
    throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, "Invalid field name requested");
  return index;
}

int CppSQLite3Query::ColumnType(int index) {
  RequireStatement();
  RequireIndex(index);
  return statement_.ColumnType(index);
}

const char* CppSQLite3Query::TextOf(const char* name) {
  return statement_.CText(ColumnIndex(name));
}

std::string CppSQLite3Query::BytesOf(const char* name) {
  return statement_.Text(ColumnIndex(name));
}

long long CppSQLite3Query::Int64Of(const char* name, long long defaultValue) {
  return Int64Of(ColumnIndex(name), defaultValue);
}

long long CppSQLite3Query::Int64Of(int index, long long defaultValue) {
  if (ColumnType(index) == SQLITE_NULL) return defaultValue;
  return statement_.Integer(index);
}

int CppSQLite3Query::IntOf(const char* name, int defaultValue) {
  return IntOf(ColumnIndex(name), defaultValue);
}

int CppSQLite3Query::IntOf(int index, int defaultValue) {
  if (ColumnType(index) == SQLITE_NULL) return defaultValue;
  return statement_.Int(index);
}

double CppSQLite3Query::RealOf(const char* name, double defaultValue) {
  return RealOf(ColumnIndex(name), defaultValue);
}

double CppSQLite3Query::RealOf(int index, double defaultValue) {
  if (ColumnType(index) == SQLITE_NULL) return defaultValue;
  return statement_.Real(index);
}

void CppSQLite3Query::RequireStatement() const {
  if (!statement_.Active())
    throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, "Null Virtual Machine pointer");
}

void CppSQLite3Query::RequireIndex(int index) const {
  if (index < 0 || index > columnCount_ - 1)
    throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, "Invalid field index requested");
}

// ---- CppSQLite3DB -------------------------------------------------------------

void CppSQLite3DB::Open(const char* path) {
  try {
    connection_.Open(path ? path : "", sqlite::OpenMode::Create);
  } catch (const StorageError& error) {
    throw CppSQLite3Exception(error);
  }
}

int CppSQLite3DB::RunStatement(const char* sql) {
  RequireOpen();
  try {
    connection_.Execute(sql);
  } catch (const StorageError& error) {
    throw CppSQLite3Exception(error);
  }
  return connection_.Changes();
}

CppSQLite3Query CppSQLite3DB::RunQuery(const char* sql) {
  RequireOpen();
  std::optional<sqlite::Statement> statement;
  try {
    statement.emplace(connection_, sql, std::initializer_list<sqlite::Value>{},
                      sqlite::Preparation::Legacy);
  } catch (const StorageError& error) {
    throw CppSQLite3Exception(error);
  }
  const int result = statement->StepResult();
  if (result == SQLITE_DONE || result == SQLITE_ROW)
    return CppSQLite3Query(std::move(*statement), result == SQLITE_DONE);
  const int code = statement->Finalize();
  throw CppSQLite3Exception(statement->Error(code));
}

void CppSQLite3DB::RequireOpen() const {
  if (!connection_.IsOpen())
    throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, "Database not open");
}

}  // namespace veltrane
