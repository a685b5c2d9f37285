// What the PostgreSQL stores share: a connection for one call whose every
// PgError becomes the StorageError the store interfaces promise, and number
// texts for parameters. Internal to the PostgreSQL stores.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/number_text.h"
#include "storage/postgres/pg_database.h"
#include "storage/storage_error.h"

namespace veltrane::pg {

// The PgError as a StorageError: unreachable, busy (a lock or serialization
// conflict), a missing table, a refused change, or any other failure.
StorageError ToStorageError(const PgError& error);

// Runs `body` on a new connection to `url`; PgError leaves as StorageError.
template <typename Body>
auto WithConnection(const std::string& url, Body body)
    -> decltype(body(std::declval<PgDatabase&>())) {
  try {
    PgDatabase database(url);
    return body(database);
  } catch (const PgError& error) {
    throw ToStorageError(error);
  }
}

inline std::string Param(std::int64_t value) { return std::to_string(value); }
inline std::string Param(double value) { return SqlNumberText(value); }

}  // namespace veltrane::pg
