// Which store the service and veltrane-admin use. Without configuration it is
// the two SQLite files in db/ beside the executable. A PostgreSQL server is
// named by the environment variable VELTRANE_DATABASE_URL or, when that is
// unset or empty, by a line "database_url = <connection string>" in the file
// veltrane.conf beside the executable (blank lines and lines starting with
// "#" are ignored). The connection string is libpq's: a URI
// (postgresql://user@host/db) or key=value pairs.
#pragma once

#include <string>

#include "platform/configuration.h"

namespace veltrane {

inline constexpr const char* kDatabaseUrlVariable = "VELTRANE_DATABASE_URL";

// The server's connection string; empty for the SQLite files.
std::string ConfiguredDatabaseUrl();
// The same for a service installed in `directory` (its veltrane.conf).
std::string ConfiguredDatabaseUrlIn(const std::string& directory);

// The database_url of a configuration file's text; empty when it has none.
std::string DatabaseUrlOf(const std::string& configurationText);

}  // namespace veltrane
