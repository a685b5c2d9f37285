// StatusReport: what 'veltrane-admin status' shows, read once from the store
// and written as text or JSON, so that a web view shows the same facts the
// same way: every instance that published a row (storage/instance_status.h)
// and the next schedules to fall due. Times are written as local
// 'YYYY-MM-DD HH:MM:SS' in the store's time base (the server's on a server).
// An instance is healthy when it is not stale and its last poll did not
// fail; the report is healthy when at least one instance runs and every one
// is healthy (no instance at all is not: nothing polls the schedules).
#pragma once

#include <iosfwd>
#include <vector>

#include "admin/json_writer.h"
#include "platform/day_clock.h"
#include "storage/instance_status.h"
#include "storage/schedule_store.h"

namespace veltrane::admin {

// How many of the next due schedules a report holds.
inline constexpr int kNextDueShown = 5;

struct StatusReport {
  std::vector<InstanceStatus> instances;  // newest start first
  // The schedules that fall due next (those due now first), by next run; a
  // schedule run once, or one the service skips as invalid, is not among them.
  std::vector<ScheduleEntry> nextDue;
  double now = 0.0;  // the store's time now
};

// From the store of `paths`; `clock` gives the time on the files. Every
// failure is a StorageError.
StatusReport ReadStatusReport(const DatabasePaths& paths, SqliteStoreOptions options,
                              const Clock& clock);

bool Healthy(const InstanceStatus& instance);
bool Healthy(const StatusReport& report);

// One JSON object: {"healthy", "now", "instances": [...], "nextDue": [...]}
// (the members are listed in the help of 'veltrane-admin status').
void WriteStatusJson(JsonWriter& out, const StatusReport& report);
void WriteStatusText(std::ostream& out, const StatusReport& report);

}  // namespace veltrane::admin
