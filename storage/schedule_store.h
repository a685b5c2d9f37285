// ScheduleStore: the schedule table, as the schedule thread, the job and
// veltrane-admin use it, whatever database holds it. Plain values in and
// out; every failure is a StorageError. A store object may be used by one
// thread at a time; each call stands alone (its own connection, its own
// transaction where it writes).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/schedule_rule.h"
#include "storage/storage_error.h"

namespace veltrane {

// A due schedule as the schedule thread reads it: NULL frequency and time read as 0.
struct DueSchedule {
  ScheduleId id = 0;
  int frequency = 0;
  double time = 0.0;
};

// What a job reads of its schedule: the press release and the sites, in order.
struct ScheduleRow {
  std::string name;
  std::vector<std::string> sites;
};

// A schedule as veltrane-admin lists it.
struct ScheduleEntry {
  std::string id;  // as stored, text
  std::string name;
  std::vector<std::string> sites;
  int frequency = 0;  // the low 32 bits of the code, NULL as 0, as the service reads it
  double time = 0.0;
  std::optional<double> next;
  bool disabled = false;  // kept, but not run until enabled again
};

struct NewSchedule {
  std::string release;
  std::vector<std::string> sites;
  int frequency = 0;
  double time = 0.0;
  double next = 0.0;
};

// A shared server's time base: its zone, that zone's offset from UTC now,
// and its local time now as a day number. Every instance on the server
// judges due times by it.
struct ServerTime {
  std::string zone;
  int utcOffsetSeconds = 0;
  double now = 0.0;
};

class ScheduleStore {
 public:
  virtual ~ScheduleStore() = default;

  // Walks the schedules due at `now` (next earlier than now) that have an
  // integer id and are not disabled, longest-due first, until `take`
  // accepts one; gives that one.
  virtual std::optional<DueSchedule> FirstDue(
      double now, const std::function<bool(const DueSchedule&)>& take) = 0;

  // In one transaction: sets the schedule's next run and, unless a job of it
  // is still queued or running, records a job queued at `now`. False when
  // such a job was there (the next run is written all the same).
  virtual bool AdvanceNextRun(ScheduleId id, double next, double now) = 0;

  // The release and sites of a schedule; none without its row.
  virtual std::optional<ScheduleRow> Find(ScheduleId id) = 0;

  // Every schedule, by next run, then id.
  virtual std::vector<ScheduleEntry> List() = 0;
  // Adds a schedule under the next free id and gives that id.
  virtual ScheduleId Add(const NewSchedule& schedule) = 0;
  // False when there is no such schedule.
  virtual bool SetNextRun(ScheduleId id, double next) = 0;

  // The server's time base; none on the files, where the one instance's own clock counts.
  virtual std::optional<ServerTime> ServerTimeBase() = 0;

  // Throws when the store cannot serve at all (no database, no table).
  virtual void Check() = 0;
};

}  // namespace veltrane
