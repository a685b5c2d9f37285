#include "storage/sqlite_core.h"

#include <sys/stat.h>

#include <utility>

#include "platform/number_text.h"
#include "platform/private_files.h"
#include "storage/database_files.h"
#include "storage/placeholders.h"

namespace veltrane::sqlite {
namespace {

bool IsFilePath(const std::string& path) {
  return !path.empty() && path != ":memory:" && !path.starts_with("file:");
}

}  // namespace

std::string ShownSql(std::string_view sql, std::span<const Value> params) {
  return sql::ReplacePlaceholders(sql, [&](int index) -> std::optional<std::string> {
    if (static_cast<std::size_t>(index) >= params.size()) return std::nullopt;
    return params[index].Literal();
  });
}

std::string Value::Literal() const {
  switch (kind_) {
    case Kind::Null: return "NULL";
    case Kind::Integer: return std::to_string(integer_);
    case Kind::Real: return SqlNumberText(real_);
    case Kind::Text: break;
  }
  std::string literal = "'";
  for (const char c : text_) {
    literal += c;
    if (c == '\'') literal += '\'';
  }
  return literal + "'";
}

int Value::BindTo(sqlite3_stmt* statement, int index) const {
  switch (kind_) {
    case Kind::Null: return sqlite3_bind_null(statement, index);
    case Kind::Integer: return sqlite3_bind_int64(statement, index, integer_);
    case Kind::Real: return sqlite3_bind_double(statement, index, real_);
    case Kind::Text: break;
  }
  // SQLite takes a null pointer for NULL: an empty text must still be a text.
  return sqlite3_bind_text(statement, index, text_.data() ? text_.data() : "",
                           static_cast<int>(text_.size()), SQLITE_TRANSIENT);
}

// ---- Connection ----------------------------------------------------------------

Connection::Connection(const std::string& path, OpenMode mode, int busyWaitMs)
    : busyWait_(busyWaitMs) {
  Open(path, mode);
}

void Connection::Open(const std::string& path, OpenMode mode) {
  handle_.reset();
  path_ = path;
  // SQLite follows a link at the file's name (its own NOFOLLOW flag refuses
  // links in the folders too, which a package's db/ may be): look first.
  if (IsFilePath(path) && IsSymbolicLink(path))
    throw StorageError(StorageError::Kind::Failure, SQLITE_CANTOPEN,
                       "is a symbolic link, which is not followed", path);
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (mode == OpenMode::Create) {
    CreateDatabaseFileIfMissing(path);
  } else {
    flags = mode == OpenMode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    struct stat status {};
    if (IsFilePath(path) && stat(path.c_str(), &status) != 0)
      throw StorageError(StorageError::Kind::Missing, SQLITE_CANTOPEN, "does not exist", path);
    if (IsFilePath(path) && S_ISDIR(status.st_mode))
      throw StorageError(StorageError::Kind::Directory, SQLITE_CANTOPEN, "is a directory", path);
  }
  sqlite3* raw = nullptr;
  const int result = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  // Closed on every path, a failed open included.
  std::unique_ptr<sqlite3, Closer> opened(raw);
  if (result != SQLITE_OK)
    throw StorageError(result, raw ? sqlite3_errmsg(raw) : sqlite3_errstr(result), path);
  sqlite3_busy_timeout(raw, busyWait_);
  handle_ = std::move(opened);
}

void Connection::SetBusyWait(int milliseconds) {
  busyWait_ = milliseconds;
  if (handle_) sqlite3_busy_timeout(handle_.get(), busyWait_);
}

sqlite3* Connection::Handle() const {
  if (!handle_) throw StorageError(StorageError::kLayerError, "Database not open", path_);
  return handle_.get();
}

StorageError Connection::LastError(int code) const {
  return StorageError(code, handle_ ? sqlite3_errmsg(handle_.get()) : "", path_);
}

void Connection::Execute(const char* sql) {
  char* message = nullptr;
  const int result = sqlite3_exec(Handle(), sql, nullptr, nullptr, &message);
  const std::string detail = message ? message : "";
  sqlite3_free(message);
  if (result != SQLITE_OK) throw StorageError(result, detail, path_).WithStatement(sql);
}

int Connection::Changes() const { return sqlite3_changes(Handle()); }

std::int64_t Connection::LastInsertId() const { return sqlite3_last_insert_rowid(Handle()); }

bool Connection::HasTable(std::string_view name) {
  return Statement(*this, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", {name})
      .Step();
}

void Connection::RequireTables(std::initializer_list<const char*> tables) {
  for (const char* table : tables)
    if (!HasTable(table))
      throw StorageError(StorageError::Kind::MissingTable, SQLITE_ERROR, table, path_);
}

bool Connection::IsEmpty() { return !Statement(*this, "SELECT 1 FROM sqlite_master").Step(); }

// ---- Statement -----------------------------------------------------------------

Statement::Statement(Connection& connection, std::string_view sql, std::span<const Value> params,
                     Preparation preparation)
    : connection_(connection.Handle()), where_(connection.Path()), shown_(ShownSql(sql, params)) {
  const int length = static_cast<int>(sql.size());
  const int result =
      preparation == Preparation::Legacy
          ? sqlite3_prepare(connection_, sql.data(), length, &statement_, nullptr)
          : sqlite3_prepare_v2(connection_, sql.data(), length, &statement_, nullptr);
  if (result != SQLITE_OK) throw Error(result);
  int index = 1;
  for (const Value& value : params) {
    if (const int bound = value.BindTo(statement_, index++); bound != SQLITE_OK) {
      const StorageError error = Error(bound);
      sqlite3_finalize(std::exchange(statement_, nullptr));
      throw error;
    }
  }
}

Statement::Statement(sqlite3* connection, sqlite3_stmt* statement, bool owns)
    : connection_(connection), statement_(statement), owns_(owns) {
  if (statement && sqlite3_sql(statement)) shown_ = sqlite3_sql(statement);
}

Statement::Statement(Statement&& other) noexcept
    : connection_(other.connection_),
      statement_(std::exchange(other.statement_, nullptr)),
      owns_(other.owns_),
      where_(std::move(other.where_)),
      shown_(std::move(other.shown_)) {}

Statement::~Statement() {
  if (owns_ && statement_) sqlite3_finalize(statement_);
}

StorageError Statement::Error(int code) const {
  return StorageError(code, sqlite3_errmsg(connection_), where_).WithStatement(shown_);
}

int Statement::StepResult() {
  if (!statement_)
    throw StorageError(StorageError::kLayerError, "Null Virtual Machine pointer", where_);
  return sqlite3_step(statement_);
}

bool Statement::Step() {
  const int result = StepResult();
  if (result == SQLITE_ROW) return true;
  if (result == SQLITE_DONE) return false;
  throw Error(result);
}

void Statement::Run() {
  while (Step()) {
  }
}

int Statement::Finalize() {
  if (!statement_) return SQLITE_OK;
  return sqlite3_finalize(std::exchange(statement_, nullptr));
}

int Statement::ColumnCount() const { return statement_ ? sqlite3_column_count(statement_) : 0; }

int Statement::FindColumn(const char* name) const {
  if (!name || !statement_) return -1;
  const std::string_view wanted(name);
  for (int index = 0; index < ColumnCount(); ++index) {
    const char* column = sqlite3_column_name(statement_, index);
    if (column && wanted == column) return index;
  }
  return -1;
}

int Statement::ColumnIndex(const char* name) const {
  const int index = FindColumn(name);
  if (index < 0)
    throw StorageError(StorageError::kLayerError, "Invalid field name requested", where_)
        .WithStatement(shown_);
  return index;
}

int Statement::ColumnType(int index) const { return sqlite3_column_type(statement_, index); }

const char* Statement::CText(int index) const {
  return reinterpret_cast<const char*>(sqlite3_column_text(statement_, index));
}

std::string Statement::Text(int index) const {
  const char* text = CText(index);
  if (!text) return {};
  // Texts may hold any bytes; take the stored length rather than stop at a NUL.
  return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement_, index)));
}

int Statement::Int(int index) const { return sqlite3_column_int(statement_, index); }

std::int64_t Statement::Integer(int index) const { return sqlite3_column_int64(statement_, index); }

double Statement::Real(int index) const { return sqlite3_column_double(statement_, index); }

// ---- Transaction ---------------------------------------------------------------

Transaction::Transaction(Connection& connection) : connection_(connection) {
  connection_.Execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (!open_) return;
  // Never throw from here: a failed rollback leaves SQLite to undo the journal.
  try {
    connection_.Execute("ROLLBACK");
  } catch (...) {
  }
}

void Transaction::Commit() {
  connection_.Execute("COMMIT");
  open_ = false;
}

}  // namespace veltrane::sqlite
