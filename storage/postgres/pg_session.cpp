#include "storage/postgres/pg_session.h"

#include "platform/number_text.h"
#include "storage/placeholders.h"
#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_store_access.h"

namespace veltrane {
namespace {

// The statement with its "?" numbered as the server wants them ($1, $2, ...).
std::string Numbered(std::string_view sql) {
  return sql::ReplacePlaceholders(
      sql, [](int index) -> std::optional<std::string> { return "$" + std::to_string(index + 1); });
}

// Parameters cross as texts; numbers as the service writes them in SQL.
std::vector<PgParam> TextsOf(const sql::Values& params) {
  std::vector<PgParam> texts;
  texts.reserve(params.size());
  for (const sql::Value& param : params) {
    const auto& value = param.Get();
    if (const auto* integer = std::get_if<std::int64_t>(&value))
      texts.emplace_back(std::to_string(*integer));
    else if (const auto* real = std::get_if<double>(&value))
      texts.emplace_back(SqlNumberText(*real));
    else if (const auto* text = std::get_if<std::string>(&value))
      texts.emplace_back(*text);
    else
      texts.emplace_back(std::nullopt);
  }
  return texts;
}

class PgSession : public sql::Session {
 public:
  explicit PgSession(const std::string& url) : db_(Connect(url)) {}

  sql::Rows Query(std::string_view sql, const sql::Values& params) override {
    const PgResult result = Run(sql, params);
    std::vector<std::string> names;
    for (int column = 0; column < result.Columns(); ++column)
      names.push_back(result.ColumnName(column));
    sql::Rows rows(std::move(names), kWhere, sql::Shown(sql, params));
    for (int row = 0; row < result.Rows(); ++row) {
      std::vector<sql::Rows::Cell> cells(result.Columns());
      for (int column = 0; column < result.Columns(); ++column) {
        sql::Rows::Cell& cell = cells[column];
        cell.null = result.IsNull(row, column);
        cell.text = result.Text(row, column);
        cell.integer = result.Integer(row, column);
        cell.real = result.Real(row, column);
      }
      rows.Add(std::move(cells));
    }
    return rows;
  }

  int Execute(std::string_view sql, const sql::Values& params) override {
    return Run(sql, params).Changes();
  }

  std::int64_t Insert(std::string_view sql, const sql::Values& params) override {
    return Run(std::string(sql) + " RETURNING id", params).Integer(0, 0);
  }

  void ExecuteScript(const std::string& sql) override {
    try {
      db_->ExecuteScript(sql);
    } catch (const PgError& error) {
      throw pg::ToStorageError(error);
    }
  }

  void Begin() override { Execute("BEGIN", {}); }
  void BeginSnapshot() override { Execute("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY", {}); }
  // A COMMIT of a failed transaction, or with none open, succeeds on the server
  // without writing anything: only "COMMIT" from inside a sound one counts.
  void Commit() override {
    const bool open = db_->InTransaction();
    if (Run("COMMIT", {}).Command() != "COMMIT" || !open)
      throw StorageError(StorageError::Kind::Failure, StorageError::kServerError,
                         "the transaction did not commit", kWhere)
          .WithStatement("COMMIT");
  }
  void Rollback() noexcept override {
    try {
      db_->Execute("ROLLBACK");
    } catch (const PgError&) {
      // The connection is gone; the server rolls the transaction back itself.
    }
  }

  sql::Dialect Dialect() const override { return sql::Dialect::Postgres; }

  std::set<std::string> Columns(const std::string& table) override {
    const sql::Rows rows = Query(
        "SELECT column_name FROM information_schema.columns WHERE table_name = ? "
        "AND table_schema = current_schema()",
        {table});
    std::set<std::string> names;
    for (int row = 0; row < rows.Count(); ++row) names.insert(rows.Text(row, 0));
    return names;
  }

  // A missing table is an error of the server that names it.
  void RequireTables(std::initializer_list<const char*> tables) override {
    for (const char* table : tables) Query(std::string("SELECT 1 FROM ") + table + " LIMIT 1", {});
  }

  void LockForAdding(const char* table) override {
    Execute(std::string("LOCK TABLE ") + table + " IN SHARE ROW EXCLUSIVE MODE", {});
  }

  std::string Upsert(const char* table, const std::vector<const char*>& columns,
                     const std::vector<const char*>& keys) const override {
    std::string names;
    std::string marks;
    std::string updates;
    for (const char* column : columns) {
      names += (names.empty() ? "" : ", ") + std::string(column);
      marks += marks.empty() ? "?" : ",?";
      bool key = false;
      for (const char* name : keys) key = key || std::string_view(name) == column;
      if (!key)
        updates += (updates.empty() ? "" : ", ") + std::string(column) + " = EXCLUDED." + column;
    }
    std::string conflict;
    for (const char* key : keys) conflict += (conflict.empty() ? "" : ", ") + std::string(key);
    return std::string("INSERT INTO ") + table + " (" + names + ") VALUES (" + marks +
           ") ON CONFLICT (" + conflict + ") DO UPDATE SET " + updates;
  }

  std::string InsertionOrder(const std::string& prefix,
                             const std::string& otherwise) const override {
    return prefix + otherwise;
  }

  // A server's ids are whole numbers by their type.
  std::string IsInteger(const char*) const override { return "TRUE"; }

 private:
  static constexpr const char* kWhere = "PostgreSQL server";

  static std::unique_ptr<PgDatabase> Connect(const std::string& url) {
    try {
      return std::make_unique<PgDatabase>(url);
    } catch (const PgError& error) {
      throw pg::ToStorageError(error);
    }
  }

  PgResult Run(std::string_view sql, const sql::Values& params) {
    try {
      return db_->Execute(Numbered(sql), TextsOf(params));
    } catch (const PgError& error) {
      throw pg::ToStorageError(error).WithStatement(sql::Shown(sql, params));
    }
  }

  std::unique_ptr<PgDatabase> db_;
};

class ServerDatabase : public sql::Database {
 public:
  explicit ServerDatabase(std::string url) : url_(std::move(url)) {}
  std::unique_ptr<sql::Session> Open(sql::Access) const override {
    return std::make_unique<PgSession>(url_);
  }

 private:
  std::string url_;
};

}  // namespace

std::shared_ptr<sql::Database> MakeServerDatabase(std::string url) {
  return std::make_shared<ServerDatabase>(std::move(url));
}

}  // namespace veltrane
