#include "storage/sqlite_database.h"

#include "storage/sqlite_core.h"
#include "storage/sqlite_values.h"

namespace veltrane {
namespace {

class SqliteSession : public sql::Session {
 public:
  explicit SqliteSession(sqlite::Connection connection) : db_(std::move(connection)) {}

  sql::Rows Query(std::string_view sql, const sql::Values& params) override {
    const std::vector<sqlite::Value> values = sql::SqliteValues(params);
    sqlite::Statement statement(db_, sql, values);
    std::vector<std::string> names;
    for (int column = 0; column < statement.ColumnCount(); ++column) {
      const char* name = statement.ColumnName(column);
      names.push_back(name ? name : "");
    }
    sql::Rows rows(std::move(names), db_.Path(), statement.Shown());
    while (statement.Step()) {
      std::vector<sql::Rows::Cell> cells(statement.ColumnCount());
      for (int column = 0; column < statement.ColumnCount(); ++column) {
        sql::Rows::Cell& cell = cells[column];
        cell.null = statement.IsNull(column);
        // Numbers first: reading the text of a number converts it in place.
        cell.integer = statement.Integer(column);
        cell.real = statement.Real(column);
        cell.text = statement.Text(column);
      }
      rows.Add(std::move(cells));
    }
    return rows;
  }

  int Execute(std::string_view sql, const sql::Values& params) override {
    const std::vector<sqlite::Value> values = sql::SqliteValues(params);
    sqlite::Statement(db_, sql, values).Run();
    return db_.Changes();
  }

  std::int64_t Insert(std::string_view sql, const sql::Values& params) override {
    Execute(sql, params);
    return db_.LastInsertId();
  }

  void ExecuteScript(const std::string& sql) override { db_.Execute(sql.c_str()); }

  // IMMEDIATE: the write lock is taken before anything is checked.
  void Begin() override { db_.Execute("BEGIN IMMEDIATE"); }
  // DEFERRED: its first read takes the file's shared lock, held to its end.
  void BeginSnapshot() override { db_.Execute("BEGIN DEFERRED"); }
  void Commit() override { db_.Execute("COMMIT"); }
  void Rollback() noexcept override {
    try {
      db_.Execute("ROLLBACK");
    } catch (...) {
      // SQLite undoes the journal itself.
    }
  }

  sql::Dialect Dialect() const override { return sql::Dialect::Sqlite; }

  std::set<std::string> Columns(const std::string& table) override {
    std::set<std::string> names;
    sqlite::Statement query(db_, "SELECT name FROM pragma_table_info(?)", {table});
    while (query.Step()) names.insert(query.Text(0));
    return names;
  }

  void RequireTables(std::initializer_list<const char*> tables) override {
    db_.RequireTables(tables);
  }

  // BEGIN IMMEDIATE holds the file's write lock already.
  void LockForAdding(const char*) override {}

  std::string Upsert(const char* table, const std::vector<const char*>& columns,
                     const std::vector<const char*>&) const override {
    std::string names;
    std::string marks;
    for (const char* column : columns) {
      names += (names.empty() ? "" : ",") + std::string(column);
      marks += marks.empty() ? "?" : ",?";
    }
    return std::string("INSERT OR REPLACE INTO ") + table + " (" + names + ") VALUES (" + marks +
           ")";
  }

  std::string InsertionOrder(const std::string& prefix, const std::string&) const override {
    return prefix + "rowid";
  }

  std::string IsInteger(const char* column) const override {
    return std::string("typeof(") + column + ") = 'integer'";
  }

 private:
  sqlite::Connection db_;
};

class SqliteDatabase : public sql::Database {
 public:
  SqliteDatabase(std::string path, SqliteStoreOptions options)
      : path_(std::move(path)), options_(options) {}

  // Read-only for reads of a file that must exist; created when missing in the service's way.
  std::unique_ptr<sql::Session> Open(sql::Access access) const override {
    const sqlite::OpenMode existing =
        access == sql::Access::Read ? sqlite::OpenMode::ReadOnly : sqlite::OpenMode::ReadWrite;
    return std::make_unique<SqliteSession>(sqlite::Connection(
        path_, options_.existingOnly ? existing : sqlite::OpenMode::Create, options_.busyWait));
  }

 private:
  std::string path_;
  SqliteStoreOptions options_;
};

}  // namespace

std::shared_ptr<sql::Database> MakeSqliteDatabase(std::string path, SqliteStoreOptions options) {
  return std::make_shared<SqliteDatabase>(std::move(path), options);
}

}  // namespace veltrane
