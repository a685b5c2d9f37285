// A PostgreSQL server as a store's database (see sql_session.h): each session
// is a connection of its own, so a server that restarted is simply reached
// again by the next one. A server that cannot be reached is a StorageError of
// kind Unreachable.
#pragma once

#include <memory>
#include <string>

#include "storage/sql_session.h"

namespace veltrane {

std::shared_ptr<sql::Database> MakeServerDatabase(std::string url);

}  // namespace veltrane
