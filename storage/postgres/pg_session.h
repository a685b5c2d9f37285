// A PostgreSQL server as a store's database (see sql_session.h): each session
// is a connection of its own, opened by the thread that uses it and closed
// at its end, so no two threads share a connection and a server that
// restarted is simply reached again by the next one. Every connection and
// statement is bounded in time (PgBounds in pg_database.h). A server that
// cannot be reached, or does not answer in time, is a StorageError of kind
// Unreachable.
#pragma once

#include <memory>
#include <string>

#include "storage/sql_session.h"

namespace veltrane {

std::shared_ptr<sql::Database> MakeServerDatabase(std::string url);

}  // namespace veltrane
