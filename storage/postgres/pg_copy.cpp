#include "storage/postgres/pg_copy.h"

#include "platform/number_text.h"
#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_store_access.h"
#include "storage/schema.h"
#include "storage/sqlite_core.h"

namespace veltrane {
namespace {

struct TableOf {
  const char* table;
  bool inMainFile;
  const char* identity;  // the column whose sequence must follow the copied ids, or null
};

constexpr TableOf kTables[] = {
    {"schedule", true, "id"},
    {"pressrelease", true, nullptr},
    {"account", true, nullptr},
    {"history", true, "id"},
    {"job", true, "id"},
    {"job_site", true, nullptr},
    {"subscription", false, nullptr},
};

std::vector<std::string> ServerColumns(PgDatabase& server, const char* table) {
  const PgResult rows = server.Execute(
      "SELECT column_name FROM information_schema.columns WHERE table_name = $1 "
      "AND table_schema = current_schema() ORDER BY ordinal_position",
      {std::string(table)});
  std::vector<std::string> columns;
  for (int i = 0; i < rows.Rows(); ++i) columns.push_back(rows.Text(i, 0));
  return columns;
}

// The column's value as a parameter: numbers as the service writes them
// (no digits lost), texts as their bytes, NULL as none.
PgParam ValueOf(const sqlite::Statement& row, int column) {
  switch (row.ColumnType(column)) {
    case SQLITE_NULL: return std::nullopt;
    case SQLITE_INTEGER: return std::to_string(row.Integer(column));
    case SQLITE_FLOAT: return SqlNumberText(row.Real(column));
    default: return row.Text(column);
  }
}

int CopyTable(sqlite::Connection& file, PgDatabase& server, const TableOf& table) {
  if (!file.HasTable(table.table)) return 0;
  sqlite::Statement rows(file, std::string("SELECT * FROM ") + table.table);
  std::vector<int> fileColumns;
  std::string names;
  std::string placeholders;
  for (const std::string& column : ServerColumns(server, table.table)) {
    const int index = rows.FindColumn(column.c_str());
    if (index < 0) continue;
    fileColumns.push_back(index);
    names += (names.empty() ? "" : ",") + column;
    placeholders += (placeholders.empty() ? "$" : ",$") + std::to_string(fileColumns.size());
  }
  const std::string insert = std::string("INSERT INTO ") + table.table + " (" + names +
                             ") VALUES (" + placeholders + ") ON CONFLICT DO NOTHING";
  int copied = 0;
  while (rows.Step()) {
    std::vector<PgParam> values;
    for (const int index : fileColumns) values.push_back(ValueOf(rows, index));
    server.Execute(insert, values);
    ++copied;
  }
  if (table.identity)
    server.Execute(std::string("SELECT setval(pg_get_serial_sequence('") + table.table + "', '" +
                   table.identity + "'), COALESCE(MAX(" + table.identity +
                   "), 0) + 1, false) FROM " + table.table);
  return copied;
}

}  // namespace

std::vector<CopiedTable> CopySqliteToPostgres(const DatabasePaths& files, const std::string& url) {
  sqlite::Connection main(files.main, sqlite::OpenMode::ReadOnly);
  sqlite::Connection subscription(files.subscription, sqlite::OpenMode::ReadOnly);
  return pg::WithConnection(url, [&](PgDatabase& server) {
    server.ExecuteScript(schema::ServerSchema());
    PgTransaction transaction(server);
    std::vector<CopiedTable> copied;
    for (const TableOf& table : kTables)
      copied.push_back(
          {table.table, CopyTable(table.inMainFile ? main : subscription, server, table)});
    // Jobs the files' service left unfinished: any instance may finish them now.
    server.Execute(
        "UPDATE job SET lease_until = '-infinity' WHERE finished IS NULL AND lease_until IS NULL");
    transaction.Commit();
    return copied;
  });
}

}  // namespace veltrane
