#include "storage/postgres/pg_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "platform/number_text.h"
#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_store_access.h"
#include "storage/schema.h"
#include "storage/sqlite_core.h"

namespace veltrane {
namespace {

struct Reference {
  const char* column;
  const char* table;  // the table whose id it holds
};

struct TableOf {
  const char* table;
  bool inMainFile;
  const char* identity;  // the id column, numbered by the server; null: keyed by name
  std::vector<Reference> references = {};
};

// In this order, so that a row's references are renumbered before it is copied.
const TableOf kTables[] = {
    {"schedule", true, "id"},
    {"pressrelease", true, nullptr},
    {"account", true, nullptr},
    {"history", true, "id"},
    {"job", true, "id", {{"schedule_id", "schedule"}, {"history_id", "history"}}},
    {"job_site", true, nullptr, {{"job_id", "job"}, {"schedule_id", "schedule"}}},
    {"subscription", false, nullptr},
};

// Which rows of which folder the server holds, under which id.
constexpr const char* kCopiedRows =
    "CREATE TABLE IF NOT EXISTS copied_row (source TEXT NOT NULL, tbl TEXT NOT NULL, "
    "file_id BIGINT NOT NULL, id BIGINT NOT NULL, PRIMARY KEY (source, tbl, file_id))";

using IdMap = std::map<std::int64_t, std::int64_t>;  // file id -> server id

// The folder's copy id: read from db/copy-id, made there (0600) at the first copy.
std::string FolderCopyId(const std::string& mainFile) {
  const std::string path = (std::filesystem::path(mainFile).parent_path() / "copy-id").string();
  std::string id;
  std::getline(std::ifstream(path), id);
  if (!id.empty()) return id;
  std::random_device random;
  char text[33] = {};
  for (int at = 0; at < 32; at += 8)
    std::snprintf(text + at, 9, "%08x", static_cast<unsigned>(random()));
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  const std::string line = std::string(text) + "\n";
  const bool written = fd >= 0 &&
                       write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
                       fsync(fd) == 0;
  const int error = errno;
  if (fd >= 0) close(fd);
  if (!written)
    throw StorageError(StorageError::kLayerError,
                       "cannot record the folder's copy id: " + std::string(std::strerror(error)),
                       path);
  return text;
}

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

// A table's rows as read from the file, in the columns both sides have,
// references already turned into the server's ids.
struct FileRows {
  std::vector<std::string> columns;
  std::vector<std::vector<PgParam>> rows;
  int key = -1;  // the identity column, or the name for a table keyed by name
};

FileRows ReadRows(sqlite::Connection& file, PgDatabase& server, const TableOf& table,
                  const std::map<std::string, IdMap>& ids) {
  FileRows read;
  sqlite::Statement rows(file, std::string("SELECT * FROM ") + table.table);
  std::vector<int> fileColumns;
  std::vector<const IdMap*> renumber;
  for (const std::string& column : ServerColumns(server, table.table)) {
    const int index = rows.FindColumn(column.c_str());
    if (index < 0) continue;
    if (column == (table.identity ? table.identity : "name"))
      read.key = static_cast<int>(read.columns.size());
    const IdMap* map = nullptr;
    for (const Reference& reference : table.references)
      if (const auto found = ids.find(reference.table);
          column == reference.column && found != ids.end())
        map = &found->second;
    fileColumns.push_back(index);
    renumber.push_back(map);
    read.columns.push_back(column);
  }
  while (rows.Step()) {
    std::vector<PgParam> values;
    for (std::size_t at = 0; at < fileColumns.size(); ++at) {
      values.push_back(ValueOf(rows, fileColumns[at]));
      // A reference to a row the file lacks is kept as it is.
      if (renumber[at] && values.back()) {
        const auto found = renumber[at]->find(std::stoll(*values.back()));
        if (found != renumber[at]->end()) values.back() = std::to_string(found->second);
      }
    }
    read.rows.push_back(std::move(values));
  }
  return read;
}

std::string Placeholders(std::size_t count) {
  std::string marks;
  for (std::size_t at = 1; at <= count; ++at) marks += (at == 1 ? "$" : ",$") + std::to_string(at);
  return marks;
}

// True when the server holds `row` under its key, equal in every column.
bool HeldAsItIs(PgDatabase& server, const char* table, const FileRows& read,
                const std::vector<PgParam>& row) {
  std::string sql = std::string("SELECT 1 FROM ") + table + " WHERE " + read.columns[read.key] +
                    " = $" + std::to_string(read.key + 1);
  for (std::size_t at = 0; at < read.columns.size(); ++at)
    if (static_cast<int>(at) != read.key)
      sql += " AND " + read.columns[at] + " IS NOT DISTINCT FROM $" + std::to_string(at + 1);
  return server.Execute(sql, row).Rows() > 0;
}

std::string InsertOf(const char* table, const FileRows& read) {
  std::string names;
  for (const std::string& column : read.columns) names += (names.empty() ? "" : ",") + column;
  return std::string("INSERT INTO ") + table + " (" + names + ") VALUES (" +
         Placeholders(read.columns.size()) + ")";
}

// Rows keyed by an id: each keeps its id when the server has no row under
// it, else gets the next free one; a row the server holds already (copied
// before from this folder, or identical under its id) is not written again.
CopiedTable CopyNumbered(PgDatabase& server, const TableOf& table, FileRows read,
                         const std::string& source, IdMap& ids) {
  CopiedTable copied;
  copied.table = table.table;
  const std::string name = table.table;
  const auto exists = [&](std::int64_t id) {
    return server
               .Execute("SELECT 1 FROM " + name + " WHERE " + table.identity + " = $1",
                        {std::to_string(id)})
               .Rows() > 0;
  };
  const auto remember = [&](std::int64_t fileId, std::int64_t id) {
    server.Execute(
        "INSERT INTO copied_row (source, tbl, file_id, id) VALUES ($1, $2, $3, $4) "
        "ON CONFLICT DO NOTHING",
        {source, name, std::to_string(fileId), std::to_string(id)});
    ids[fileId] = id;
  };
  std::vector<std::int64_t> fileIds;
  std::vector<std::size_t> renumber;  // rows whose id is taken on the server
  std::vector<std::size_t> write;     // rows to write, in the file's order
  std::int64_t highest =
      server.Execute("SELECT COALESCE(MAX(" + std::string(table.identity) + "), 0) FROM " + name)
          .Integer(0, 0);
  for (std::size_t at = 0; at < read.rows.size(); ++at) {
    const std::int64_t id = std::stoll(*read.rows[at][read.key]);
    fileIds.push_back(id);
    const PgResult known =
        server.Execute("SELECT id FROM copied_row WHERE source = $1 AND tbl = $2 AND file_id = $3",
                       {source, name, std::to_string(id)});
    if (known.Rows() > 0) {
      ids[id] = known.Integer(0, 0);
      ++copied.already;
    } else if (HeldAsItIs(server, table.table, read, read.rows[at])) {
      remember(id, id);
      ++copied.already;
    } else {
      if (exists(id))
        renumber.push_back(at);
      else
        highest = std::max(highest, id);
      write.push_back(at);
    }
  }
  for (const std::size_t at : renumber) {
    read.rows[at][read.key] = std::to_string(++highest);
    copied.renumbered.push_back({fileIds[at], highest});
  }
  const std::string insert = InsertOf(table.table, read);
  for (const std::size_t at : write) {
    server.Execute(insert, read.rows[at]);
    remember(fileIds[at], std::stoll(*read.rows[at][read.key]));
    ++copied.rows;
  }
  server.Execute(std::string("SELECT setval(pg_get_serial_sequence('") + table.table + "', '" +
                 table.identity + "'), COALESCE(MAX(" + table.identity + "), 0) + 1, false) FROM " +
                 table.table);
  return copied;
}

// Rows keyed by a name (or, for job_site, by job and position): a key the
// server has already keeps the server's row.
CopiedTable CopyKeyed(PgDatabase& server, const TableOf& table, const FileRows& read) {
  CopiedTable copied;
  copied.table = table.table;
  const std::string insert = InsertOf(table.table, read) + " ON CONFLICT DO NOTHING";
  for (const std::vector<PgParam>& row : read.rows) {
    if (server.Execute(insert, row).Changes() > 0) {
      ++copied.rows;
      continue;
    }
    ++copied.already;
    if (read.key >= 0 && row[read.key] && !HeldAsItIs(server, table.table, read, row))
      copied.differing.push_back(*row[read.key]);
  }
  return copied;
}

}  // namespace

std::vector<CopiedTable> CopySqliteToPostgres(const DatabasePaths& files, const std::string& url) {
  sqlite::Connection main(files.main, sqlite::OpenMode::ReadOnly);
  sqlite::Connection subscription(files.subscription, sqlite::OpenMode::ReadOnly);
  const std::string source = FolderCopyId(files.main);
  return pg::WithConnection(url, [&](PgDatabase& server) {
    server.ExecuteScript(schema::ServerSchema());
    server.Execute(kCopiedRows);
    PgTransaction transaction(server);
    // Running instances add jobs and history rows: not while ids are handed out.
    server.Execute("LOCK TABLE schedule, history, job, job_site IN SHARE ROW EXCLUSIVE MODE");
    std::map<std::string, IdMap> ids;
    std::vector<CopiedTable> copied;
    for (const TableOf& table : kTables) {
      sqlite::Connection& file = table.inMainFile ? main : subscription;
      if (!file.HasTable(table.table)) {
        copied.emplace_back().table = table.table;
        continue;
      }
      FileRows read = ReadRows(file, server, table, ids);
      copied.push_back(table.identity
                           ? CopyNumbered(server, table, std::move(read), source, ids[table.table])
                           : CopyKeyed(server, table, read));
    }
    // Jobs the files' service left unfinished: any instance may finish them now.
    server.Execute(
        "UPDATE job SET lease_until = '-infinity' WHERE finished IS NULL AND lease_until IS NULL");
    transaction.Commit();
    return copied;
  });
}

}  // namespace veltrane
