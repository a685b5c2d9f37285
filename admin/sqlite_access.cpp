#include "admin/sqlite_access.h"

#include <filesystem>

#include "admin/admin_error.h"
#include "storage/database_files.h"

namespace veltrane::admin {
namespace {

// The service polls the same file once a minute; wait for it rather than fail.
constexpr int kBusyWaitMs = 10000;

}  // namespace

void ThrowDatabaseError(int code, const std::string& path, const std::string& detail) {
  switch (code & 0xff) {
    case SQLITE_NOTADB: DataError(path + " is not an SQLite database");
    case SQLITE_CORRUPT: DataError(path + " is damaged: " + detail);
    case SQLITE_CONSTRAINT: DataError(path + ": " + detail);
    case SQLITE_BUSY:
    case SQLITE_LOCKED: Failure(path + " is locked by another program; try again");
    default: Failure(path + ": " + detail);
  }
}

Statement::Statement(sqlite3* connection, std::string_view sql, std::string path)
    : connection_(connection), path_(std::move(path)) {
  sqlite3_stmt* raw = nullptr;
  const int result =
      sqlite3_prepare_v2(connection, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  statement_.reset(raw);
  Check(result);
}

void Statement::Check(int result) const {
  if (result != SQLITE_OK && result != SQLITE_ROW && result != SQLITE_DONE)
    ThrowDatabaseError(result, path_, sqlite3_errmsg(connection_));
}

Statement& Statement::Bind(int index, std::string_view text) {
  Check(sqlite3_bind_text(statement_.get(), index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT));
  return *this;
}

Statement& Statement::Bind(int index, double value) {
  Check(sqlite3_bind_double(statement_.get(), index, value));
  return *this;
}

Statement& Statement::BindInteger(int index, long long value) {
  Check(sqlite3_bind_int64(statement_.get(), index, value));
  return *this;
}

Statement& Statement::BindNull(int index) {
  Check(sqlite3_bind_null(statement_.get(), index));
  return *this;
}

bool Statement::Step() {
  const int result = sqlite3_step(statement_.get());
  Check(result);
  return result == SQLITE_ROW;
}

void Statement::Run() {
  while (Step()) {
  }
}

bool Statement::IsNull(int column) const {
  return sqlite3_column_type(statement_.get(), column) == SQLITE_NULL;
}

std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(statement_.get(), column);
  if (!text) return {};
  // Texts may hold any bytes; take the stored length rather than stop at a zero byte.
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement_.get(), column)));
}

double Statement::Real(int column) const { return sqlite3_column_double(statement_.get(), column); }

long long Statement::Integer(int column) const {
  return sqlite3_column_int64(statement_.get(), column);
}

Database::Database(std::string path, int flags) : path_(std::move(path)) {
  // A file SQLite would create under the umask is made first, private.
  if (flags & SQLITE_OPEN_CREATE) CreateDatabaseFileIfMissing(path_);
  sqlite3* raw = nullptr;
  const int result = sqlite3_open_v2(path_.c_str(), &raw, flags, nullptr);
  connection_.reset(raw);
  if (result != SQLITE_OK)
    ThrowDatabaseError(result, path_, raw ? sqlite3_errmsg(raw) : "cannot open");
  sqlite3_busy_timeout(raw, kBusyWaitMs);
}

Database Database::OpenExisting(const std::string& path, Access access,
                                std::initializer_list<const char*> tables) {
  std::error_code error;
  if (!std::filesystem::exists(path, error))
    DataError(path + " does not exist (create it with 'veltrane-admin init')");
  if (std::filesystem::is_directory(path, error)) DataError(path + " is a directory");
  Database database(path,
                    access == Access::kReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
  for (const char* table : tables)
    if (!database.HasTable(table))
      DataError(path + " has no table '" + table + "' (not a Veltrane database?)");
  return database;
}

Database Database::OpenOrCreate(const std::string& path) {
  return Database(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

void Database::Execute(const char* sql) {
  char* message = nullptr;
  const int result = sqlite3_exec(connection_.get(), sql, nullptr, nullptr, &message);
  const std::string detail = message ? message : "";
  sqlite3_free(message);
  if (result != SQLITE_OK) ThrowDatabaseError(result, path_, detail);
}

bool Database::HasTable(std::string_view name) {
  Statement query = Prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
  query.Bind(1, name);
  return query.Step();
}

bool Database::IsEmpty() { return !Prepare("SELECT 1 FROM sqlite_master").Step(); }

Transaction::Transaction(Database& database) : database_(database) {
  database_.Execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (!open_) return;
  // Never throw from here: a failed rollback leaves SQLite to undo the journal.
  try {
    database_.Execute("ROLLBACK");
  } catch (...) {
  }
}

void Transaction::Commit() {
  database_.Execute("COMMIT");
  open_ = false;
}

}  // namespace veltrane::admin
