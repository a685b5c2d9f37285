// InstanceStatus: what each running service instance publishes about itself
// in the store (one row per instance, refreshed at each poll and each site),
// read back the same on the SQLite files and on a server, so that a shell
// command and a web view show one set of facts. Times are day numbers in the
// store's time base (the server's clock on a server, the local clock on the
// files). An instance whose row was not refreshed within its own stale limit
// is stale: it stopped, hung or lost the store. The writer is the instance's
// own; it creates the table where the store lacks it. Plain values in and
// out; every failure is a StorageError; each call stands alone.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/schedule_rule.h"
#include "storage/database_files.h"
#include "storage/sqlite_stores.h"

namespace veltrane {

// The job an instance has in hand: site `siteNumber` (from 1) of `siteCount`.
struct InstanceJob {
  ScheduleId schedule = 0;
  std::string scheduleName;
  std::string pressRelease;
  int siteNumber = 0;
  int siteCount = 0;
  std::string site;
  double siteSince = 0.0;  // when the current site started
};

struct InstanceStatus {
  std::string instance;  // the row's key, unique per running process
  std::string host;
  long long pid = 0;
  std::string version;
  double started = 0.0;
  double refreshed = 0.0;
  std::optional<double> lastPoll;
  std::string lastPollError;  // "" when the last poll succeeded
  std::optional<InstanceJob> job;
  std::vector<ScheduleId> queued;  // schedules due and waiting in this instance
  int spoolBacklog = 0;            // rows kept in files until the store takes them
  std::string lastError;
  std::optional<double> lastErrorAt;
  bool stale = false;       // not refreshed within its stale limit
  double staleSince = 0.0;  // when it became stale (refreshed + limit)
  double staleLimit = 0.0;  // days; written by the instance
};

class InstanceStatusReader {
 public:
  virtual ~InstanceStatusReader() = default;
  // Every instance that published a row, newest start first, with `stale`
  // judged against the store's time now.
  virtual std::vector<InstanceStatus> Instances() = 0;
};

// Over the main database of `paths`: the main file, or the server.
std::unique_ptr<InstanceStatusReader> MakeInstanceStatusReader(const DatabasePaths& paths,
                                                               SqliteStoreOptions options = {});

// The row of one instance, written by that instance alone.
class InstanceStatusWriter {
 public:
  virtual ~InstanceStatusWriter() = default;
  // Writes `status` as the row of `status.instance`, refreshed now in the
  // store's time. Its other times are day numbers of the instance's clock,
  // whose time now is `now`: they are moved into the store's time base by the
  // difference of the two clocks, measured once and again only when it moved
  // by more than a second (a clock set, a zone changed), so that a time
  // written once stays as it was. `status.staleLimit` is kept with the row.
  virtual void Write(const InstanceStatus& status, double now) = 0;
  // Removes the row of `instance` (a clean exit).
  virtual void Remove(const std::string& instance) = 0;
  // Removes the stale rows of the other instances on `host` whose process
  // `gone` says has ended: those a killed instance left. A stale instance
  // that still runs (hung) stays in view. Gives how many were removed.
  virtual int RemoveStale(const std::string& host, const std::string& instance,
                          const std::function<bool(long long pid)>& gone) = 0;
};

std::unique_ptr<InstanceStatusWriter> MakeInstanceStatusWriter(const DatabasePaths& paths,
                                                               SqliteStoreOptions options = {});

}  // namespace veltrane
