// What every command gets: the service directory (DIR, holding db/ and
// shots/), the streams and the clock.
#pragma once

#include <string>

#include "admin/admin.h"
#include "storage/database_files.h"
#include "storage/postgres/database_url.h"

namespace veltrane::admin {

struct AdminContext {
  std::string dir;
  const AdminIo& io;

  std::string DatabaseDirectory() const { return dir + "/db"; }
  std::string MainPath() const { return dir + "/db/vt.dat"; }
  std::string SubscriptionPath() const { return dir + "/db/subscription2.dat"; }
  // The PostgreSQL server the service in DIR uses ($VELTRANE_DATABASE_URL,
  // else DIR/veltrane.conf); empty: the two files.
  std::string ServerUrl() const { return ConfiguredDatabaseUrlIn(dir); }
  DatabasePaths Stores() const { return {MainPath(), SubscriptionPath(), ServerUrl()}; }
  std::string ShotsDirectory() const { return dir + "/shots"; }
};

}  // namespace veltrane::admin
