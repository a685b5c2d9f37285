// history list and show over the history store, which the service appends a
// row to after each job.
#include <optional>
#include <ostream>

#include "admin/admin_error.h"
#include "admin/admin_stores.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/date_text.h"
#include "admin/screenshots.h"
#include "admin/text_output.h"
#include "platform/text_lists.h"

namespace veltrane::admin {
namespace {

// The service writes the time as the text of a day number; show it as a date.
std::string TimeText(const std::string& stored) {
  const auto time = ParseStoredDayNumber(stored);
  return time ? FormatDateTime(*time) : stored;
}

}  // namespace

void RunHistoryList(AdminContext& context, Arguments args) {
  RequirePositional(ParseCommandArgs(args, {}, "history list"), 0, "", "history list");
  std::vector<std::vector<std::string>> rows = {{"ID", "TIME", "RELEASE", "STATUS", "SITES"}};
  for (const HistoryEntry& entry : HistoryOf(context)->List())
    rows.push_back({std::to_string(entry.id), TimeText(entry.row.time), entry.row.name,
                    entry.row.status, entry.row.subscription});
  PrintTable(context.io.out, std::move(rows));
}

void RunHistoryShow(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "history show");
  RequirePositional(parsed, 1, "ID", "history show");
  const long long id = ParseRowId(parsed.positional[0], "history id");
  const auto history = HistoryOf(context);
  const std::optional<HistoryEntry> entry = history->Find(id);
  if (!entry) DataError("unknown history row " + std::to_string(id));
  const HistoryRow& row = entry->row;

  std::ostream& out = context.io.out;
  out << "history " << id << ": " << row.name << ", " << TimeText(row.time) << ", " << row.status
      << "\n";
  out << "sites: " << row.subscription << "\n\n";
  for (const std::string& line : SplitLines(row.content)) out << line << "\n";

  const auto time = ParseStoredDayNumber(row.time);
  std::vector<std::string> shots;
  if (time) {
    // The job began after the row before it was written.
    std::optional<double> previousTime;
    if (const std::optional<std::string> before = history->TimeBefore(id))
      previousTime = ParseStoredDayNumber(*before);
    shots = ScreenshotsOf(context.ShotsDirectory(), ParseCommaText(row.subscription),
                          previousTime.value_or(0.0), *time);
  }
  out << "\nscreenshots:" << (shots.empty() ? " none" : "") << "\n";
  for (const std::string& shot : shots) out << "  " << shot << "\n";
}

}  // namespace veltrane::admin
