#include "storage/postgres/pg_store_access.h"

namespace veltrane::pg {

StorageError ToStorageError(const PgError& error) {
  const std::string& state = error.SqlState();
  StorageError::Kind kind = StorageError::Kind::Failure;
  std::string detail = error.what();
  // A server shutting down or starting (57P01-57P03) is away for now.
  if (error.Unreachable() || state.starts_with("57P")) {
    kind = StorageError::Kind::Unreachable;
    detail = "database server unreachable: " + detail;
  } else if (state == "42P01") {
    // relation "schedule" does not exist: the detail names the table, as for the files.
    kind = StorageError::Kind::MissingTable;
    const std::size_t open = detail.find('"');
    const std::size_t close = detail.find('"', open + 1);
    if (open != std::string::npos && close != std::string::npos)
      detail = detail.substr(open + 1, close - open - 1);
  } else if (state.starts_with("23")) {
    kind = StorageError::Kind::Refused;
  } else if (state == "40001" || state == "40P01" || state == "55P03" || state == "57014") {
    // 57014: cancelled, by a statement timeout say; it may pass when tried again.
    kind = StorageError::Kind::Busy;
  }
  return StorageError(kind, StorageError::kServerError, detail, "PostgreSQL server");
}

}  // namespace veltrane::pg
