#include "scheduler/history_keeper.h"

#include <charconv>
#include <exception>
#include <thread>

#include "platform/configuration.h"
#include "storage/history_prune.h"
#include "storage/storage_error.h"

namespace veltrane {
namespace {

// "1 job", "2 jobs".
std::string Counted(std::size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

HistoryRetention HistoryRetentionOf(const std::string& configurationText) {
  const std::string text = ConfigurationValue(configurationText, "history_keep_days");
  if (text.empty()) return {};
  int days = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), days);
  if (error == std::errc() && end == text.data() + text.size() && days >= 1) return {days, ""};
  return {0, "Setting history_keep_days '" + text +
                 "' is not a whole number of days from 1; the history is kept whole"};
}

HistoryKeeper::HistoryKeeper(ScheduleQueue& queue, const Clock& clock, TraceSink& trace,
                             DatabasePaths paths, std::string shotsDirectory, int keepDays,
                             HistoryKeeperTiming timing)
    : queue_(queue),
      clock_(clock),
      trace_(trace),
      paths_(std::move(paths)),
      shotsDirectory_(std::move(shotsDirectory)),
      keepDays_(keepDays),
      timing_(timing) {}

void HistoryKeeper::Start(std::unique_ptr<HistoryKeeper> keeper,
                          std::shared_ptr<StopRequest> stop) {
  std::thread([keeper = std::move(keeper), stop = std::move(stop)] {
    try {
      keeper->Run(*stop);
    } catch (const std::exception& error) {
      keeper->trace_.TraceLine(std::string("History prune failed : ") + error.what());
    }
    stop->MarkFinished();
  }).detach();
}

void HistoryKeeper::Run(const StopRequest& stop) {
  do {
    Prune(stop);
  } while (!stop.SleepFor(timing_.period));
}

void HistoryKeeper::Prune(const StopRequest& stop) {
  PruneOptions options;
  options.shotsDirectory = shotsDirectory_;
  // Between jobs only: a batch waits while a job runs or waits to start.
  options.beforeBatch = [&] {
    while (!queue_.ReadyForWork())
      if (stop.SleepFor(timing_.idleCheck)) return false;
    return !stop.Requested();
  };
  PruneResult result;
  try {
    // The service polls the same file: wait for it as a poll does.
    result = PruneHistory(paths_, {}, clock_.Now() - keepDays_, options);
  } catch (const StorageError& error) {
    trace_.TraceLine(std::string("History prune failed : ") + error.Message());
    return;
  }
  if (result.Empty()) return;
  const std::string ids =
      result.historyIds.empty() ? "" : " (" + IdRangesText(result.historyIds) + ")";
  trace_.TraceLine("History older than " + std::to_string(keepDays_) +
                   " days pruned: " + Counted(result.historyIds.size(), "history row") + ids +
                   ", " + Counted(static_cast<std::size_t>(result.jobs), "job") + " with " +
                   Counted(static_cast<std::size_t>(result.siteOutcomes), "site outcome") + ", " +
                   Counted(result.screenshots.size(), "screenshot"));
}

}  // namespace veltrane
