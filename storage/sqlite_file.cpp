#include "storage/sqlite_file.h"

namespace veltrane {

sqlite::Connection SqliteFile::Open(sqlite::OpenMode existingMode) const {
  return sqlite::Connection(path_, options_.existingOnly ? existingMode : sqlite::OpenMode::Create,
                            options_.busyWait);
}

void SqliteFile::Check(std::initializer_list<const char*> tables) const {
  ForReading().RequireTables(tables);
}

std::string StatementRow::Text(const char* column) {
  return statement_.Text(statement_.ColumnIndex(column));
}

std::optional<std::int64_t> StatementRow::Integer(const char* column) {
  const int index = statement_.ColumnIndex(column);
  if (statement_.IsNull(index)) return std::nullopt;
  return statement_.Integer(index);
}

}  // namespace veltrane
