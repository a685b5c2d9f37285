// PressReleaseStore: the pressrelease table, as the job and veltrane-admin
// use it, whatever database holds it. Releases are found by name. Plain
// values in and out; every failure is a StorageError. One thread at a time;
// each call stands alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/job_state.h"
#include "storage/press_release_columns.h"
#include "storage/storage_error.h"
#include "storage/stored_row.h"

namespace veltrane {

// A release as veltrane-admin lists it.
struct ReleaseEntry {
  std::string name;
  std::optional<std::int32_t> releaseDate;  // none: the day a job runs it
  std::string headline;
};

class PressReleaseStore {
 public:
  virtual ~PressReleaseStore() = default;

  // The release's row whole, its values read by ReadPressReleaseRow; none
  // without its row.
  virtual std::optional<StoredRow> ReadRow(const std::string& name) = 0;
  // The release whole (a NULL release date reads as `today`); none without its row.
  std::optional<PressRelease> Find(const std::string& name, std::int32_t today) {
    const std::optional<StoredRow> row = ReadRow(name);
    if (!row) return std::nullopt;
    PressRelease release;
    release.Name = name;
    ReadPressReleaseRow(*row, today, release);
    return release;
  }

  virtual bool Exists(const std::string& name) = 0;
  // Every release, by name.
  virtual std::vector<ReleaseEntry> List() = 0;
  // Stores the release's values under its Name; false when the name is taken.
  virtual bool Add(const PressRelease& release) = 0;
  // Replaces every value of the release named Name; false without its row.
  virtual bool Update(const PressRelease& release) = 0;

  // Throws when the store cannot serve at all (no database, no table).
  virtual void Check() = 0;
};

}  // namespace veltrane
