#include "storage/sql_session.h"

#include "storage/sqlite_values.h"

namespace veltrane::sql {

std::string Shown(std::string_view sql, const Values& params) {
  const std::vector<sqlite::Value> values = SqliteValues(params);
  return sqlite::ShownSql(sql, values);
}

int Rows::FindColumn(std::string_view name) const {
  for (std::size_t index = 0; index < names_.size(); ++index)
    if (names_[index] == name) return static_cast<int>(index);
  return -1;
}

int Rows::ColumnIndex(const char* name) const {
  const int index = name ? FindColumn(name) : -1;
  if (index < 0)
    throw StorageError(StorageError::kLayerError, "Invalid field name requested", where_)
        .WithStatement(shown_);
  return index;
}

}  // namespace veltrane::sql
