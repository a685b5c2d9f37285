// What every command gets: the service directory (DIR, holding db/ and
// shots/), the streams and the clock.
#pragma once

#include <string>

#include "admin/admin.h"

namespace veltrane::admin {

struct AdminContext {
  std::string dir;
  const AdminIo& io;

  std::string DatabaseDirectory() const { return dir + "/db"; }
  std::string MainPath() const { return dir + "/db/vt.dat"; }
  std::string SubscriptionPath() const { return dir + "/db/subscription2.dat"; }
  std::string ShotsDirectory() const { return dir + "/shots"; }
};

}  // namespace veltrane::admin
