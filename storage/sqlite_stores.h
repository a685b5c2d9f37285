// How the stores open the two SQLite files beside the program (or any
// others): db/vt.dat holds the schedules, the press releases, the accounts,
// the history and the job journal; db/subscription2.dat the sites.
#pragma once

namespace veltrane {

struct SqliteStoreOptions {
  int busyWait = 60000;  // ms a connection waits for a lock before failing as busy
  // false: a missing file is created empty (mode 0600), as the service opens
  // its files; true: the file must exist and is opened read-only for reads
  // (veltrane-admin).
  bool existingOnly = false;
};

}  // namespace veltrane
