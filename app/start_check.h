// What the service checks and says as it starts. StoreProblem decides once,
// before anything runs, whether the store can serve: a service without it
// would only fail every poll. StartLineText is the first line of the trace.
// ServerWithoutPassword is pure; StoreProblem reads the files or asks the
// server.
#pragma once

#include <string>

#include "storage/database_files.h"

namespace veltrane {

// A libpq connection string (URI or key=value pairs) with every password left out.
std::string ServerWithoutPassword(const std::string& connection);

// "Veltrane 1.0.0 started: store /srv/v/db/vt.dat and /srv/v/db/subscription2.dat,
// folder /srv/v/, schedule poll every 60 s" (a server as "server <connection>").
std::string StartLineText(const std::string& version, const DatabasePaths& paths,
                          const std::string& folder, double pollIntervalDays);

// Why the store cannot serve the service, in one line; "" when it can: the
// db/ folder, both files with their tables and the main one writable, or the
// server answering with its tables.
std::string StoreProblem(const DatabasePaths& paths);

}  // namespace veltrane
