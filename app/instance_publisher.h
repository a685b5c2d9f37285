// InstancePublisher: keeps this instance's row in the store's instance table
// (storage/instance_status.h), so that 'veltrane-admin status' and a web view
// can tell what it does. Publish and NoteError are called on the
// user-interface thread with the facts as they stand; a thread of the
// publisher's own writes the row whenever they changed (each poll changes
// them), so a store that is slow or away never holds up a job. A write that
// fails is traced once per distinct failure and otherwise ignored. The
// stale rows of ended processes of this host (a killed instance's) are
// removed at the first write and once per stale limit after; Stop removes
// the row itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/day_clock.h"
#include "platform/message_box.h"
#include "platform/trace.h"
#include "storage/instance_status.h"

namespace veltrane {

// What the user-interface thread knows of the instance now.
struct InstanceFacts {
  std::uint64_t polls = 0;  // polls run so far
  std::string pollError;    // why the last poll failed; "" when it did not
  std::string problem;      // what keeps schedules from running; "" when nothing
  // The job in hand; its siteSince is stamped by the publisher when the site changes.
  std::optional<InstanceJob> job;
  std::vector<ScheduleId> queued;
};

// How long a row may go without a refresh before it counts as stale: five
// poll intervals, and ten seconds at least (days, as `pollInterval`).
double StaleLimit(double pollInterval);

class InstancePublisher {
 public:
  // `clock` and `trace` must be safe to use from the publisher's thread and
  // outlive it. Starts that thread, which writes the first row at once.
  InstancePublisher(const DatabasePaths& paths, const Clock& clock, TraceSink& trace,
                    double pollInterval);
  // Stops as Stop does, however long that takes.
  ~InstancePublisher();
  InstancePublisher(const InstancePublisher&) = delete;
  InstancePublisher& operator=(const InstancePublisher&) = delete;

  void Publish(const InstanceFacts& facts);
  // An error the instance met outside the polls (one its job showed, say).
  void NoteError(const std::string& text);
  // Removes the row and ends the thread; false when that did not end within `bound`.
  bool Stop(std::chrono::milliseconds bound);

 private:
  void Run();
  void Changed();  // under mutex_

  std::unique_ptr<InstanceStatusWriter> writer_;
  std::string spoolDirectory_;
  const Clock& clock_;
  TraceSink& trace_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  InstanceStatus status_;  // times on clock_
  std::uint64_t polls_ = 0;
  std::string problem_;
  bool pending_ = true;
  bool stopping_ = false;
  bool done_ = false;
  std::thread thread_;
};

// A message box that also notes each text as the instance's last error.
class ErrorNotingBox : public MessageBox {
 public:
  ErrorNotingBox(MessageBox& shown, InstancePublisher& publisher)
      : shown_(shown), publisher_(publisher) {}
  void ShowMessage(const std::string& text) override {
    publisher_.NoteError(text);
    shown_.ShowMessage(text);
  }

 private:
  MessageBox& shown_;
  InstancePublisher& publisher_;
};

}  // namespace veltrane
