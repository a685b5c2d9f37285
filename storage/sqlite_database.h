// A SQLite file as a store's database (see sql_session.h): each session opens
// its own connection and closes it, so nothing stays open between uses.
#pragma once

#include <memory>
#include <string>

#include "storage/sql_session.h"
#include "storage/sqlite_stores.h"

namespace veltrane {

std::shared_ptr<sql::Database> MakeSqliteDatabase(std::string path, SqliteStoreOptions options);

}  // namespace veltrane
