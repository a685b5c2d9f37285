// What the main window needs of the browser window (TForm2): start a job for
// a schedule id, and place the window off screen or in view. UI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/schedule_rule.h"

namespace veltrane {

class SubmissionWindow {
 public:
  virtual ~SubmissionWindow() = default;
  // True when the job started (or already finished, having no sites).
  virtual bool StartSubmission(ScheduleId scheduleId) = 0;
  // Takes up a job that an earlier run left unfinished; false when none is left.
  virtual bool ResumeSubmission() = 0;
  // Takes up job `jobId`, which this instance took over from one that died on
  // a shared server; false when it could not start. None by default.
  virtual bool TakeOverSubmission(std::int64_t /*jobId*/) { return false; }
  // Stay on top, move to left -10000 and show: visible to the system, out of sight.
  virtual void ShowOffScreen() = 0;
  // Brings the window into sight at the given left edge; top and size stay.
  virtual void MoveToLeft(int left) = 0;
};

}  // namespace veltrane
