// StoredRow: a row read whole, whose columns the caller takes by name, so
// that a store hands back plain values and the caller decides what they fill.
// Text gives "" for NULL and Integer none; a column the row lacks throws the
// layer's "Invalid field name requested", naming the statement that read the
// row.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "storage/sql_session.h"

namespace veltrane {

class StoredRow {
 public:
  explicit StoredRow(sql::Rows rows) : rows_(std::move(rows)) {}
  std::string Text(const char* column) const { return rows_.Text(0, rows_.ColumnIndex(column)); }
  // "" also when the row has no such column.
  std::string TextIfAny(const char* column) const {
    const int index = rows_.FindColumn(column);
    return index < 0 ? "" : rows_.Text(0, index);
  }
  std::optional<std::int64_t> Integer(const char* column) const {
    const int index = rows_.ColumnIndex(column);
    if (rows_.IsNull(0, index)) return std::nullopt;
    return rows_.Integer(0, index);
  }

  // The row read by `sql` with `name` bound to its one parameter; none
  // without it. Errors name the statement.
  static std::optional<StoredRow> Read(const sql::Database& database, const char* sql,
                                       const std::string& name) {
    return sql::NamingStatement(sql, {name}, [&]() -> std::optional<StoredRow> {
      sql::Rows row = database.Open(sql::Access::Read)->Query(sql, {name});
      if (row.Empty()) return std::nullopt;
      return StoredRow(std::move(row));
    });
  }

 private:
  sql::Rows rows_;
};

}  // namespace veltrane
