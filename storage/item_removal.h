// ItemRemoval: taking schedules, sites and press releases out of the store,
// and disabling or enabling a schedule, never while a job that uses them has
// not ended. Such a job is one the journal holds unfinished: queued, running,
// cut short and waiting to be resumed, or (on a shared server) held by
// another instance or waiting there to be taken over. A job uses its schedule,
// its release and its sites; one not yet started uses those its schedule
// names. The check and the change are one transaction that keeps new jobs
// from being recorded meanwhile. History and the journal's finished jobs are
// kept. Plain values out; every failure is a StorageError; one thread at a
// time, each call standing alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/schedule_rule.h"
#include "storage/database_files.h"
#include "storage/sqlite_stores.h"

namespace veltrane {

struct Removal {
  enum class Outcome {
    Done,
    Missing,       // no such schedule, site or release
    InRunningJob,  // `jobs` have not ended and use it; nothing changed
    ReferredTo,    // a release that `schedules` name, removed only when forced
  };
  Outcome outcome = Outcome::Done;
  std::vector<std::int64_t> jobs;  // the unfinished jobs that use it
  // The schedules that name it (a site or a release), by id, as stored.
  std::vector<std::string> schedules;
};

class ItemRemoval {
 public:
  virtual ~ItemRemoval() = default;

  // Deletes the schedule's row.
  virtual Removal RemoveSchedule(ScheduleId id) = 0;
  // Marks the schedule disabled (not run, its next run and timing kept) or
  // enabled again. The mark is a column of the schedule table, added here
  // to a table made before it; a row without the mark runs.
  virtual Removal SetScheduleDisabled(ScheduleId id, bool disabled) = 0;
  // Deletes the site's row and its account row (its login). Schedules that
  // still list it are given in `schedules`: their jobs fail it.
  virtual Removal RemoveSite(const std::string& site) = 0;
  // Deletes the release's row; refused as ReferredTo while a schedule names
  // it, unless `force`. With `force`, those schedules are given all the same.
  virtual Removal RemoveRelease(const std::string& release, bool force) = 0;
};

// Over the stores of `paths`: the two files, or the server.
std::unique_ptr<ItemRemoval> MakeItemRemoval(const DatabasePaths& paths,
                                             SqliteStoreOptions options = {});

}  // namespace veltrane
