// history list and show over the history table of db/vt.dat, which the
// service appends a row to after each job.
#include <optional>
#include <ostream>

#include "admin/admin_error.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/date_text.h"
#include "admin/screenshots.h"
#include "admin/sqlite_access.h"
#include "admin/text_output.h"
#include "platform/text_lists.h"

namespace veltrane::admin {
namespace {

Database OpenHistory(const AdminContext& context) {
  return Database::OpenExisting(context.MainPath(), Database::Access::kReadOnly, {"history"});
}

// The service writes the time as the text of a day number; show it as a date.
std::string TimeText(const std::string& stored) {
  const auto time = ParseStoredDayNumber(stored);
  return time ? FormatDateTime(*time) : stored;
}

}  // namespace

void RunHistoryList(AdminContext& context, Arguments args) {
  RequirePositional(ParseCommandArgs(args, {}, "history list"), 0, "", "history list");
  Database main = OpenHistory(context);
  Statement query =
      main.Prepare("SELECT rowid, time, name, status, subscription FROM history ORDER BY rowid");
  std::vector<std::vector<std::string>> rows = {{"ID", "TIME", "RELEASE", "STATUS", "SITES"}};
  while (query.Step())
    rows.push_back({std::to_string(query.Integer(0)), TimeText(query.Text(1)), query.Text(2),
                    query.Text(3), query.Text(4)});
  PrintTable(context.io.out, std::move(rows));
}

void RunHistoryShow(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "history show");
  RequirePositional(parsed, 1, "ID", "history show");
  const long long id = ParseRowId(parsed.positional[0], "history id");
  Database main = OpenHistory(context);
  Statement query =
      main.Prepare("SELECT time, name, status, subscription, content FROM history WHERE rowid = ?");
  query.BindInteger(1, id);
  if (!query.Step()) DataError("unknown history row " + std::to_string(id));

  std::ostream& out = context.io.out;
  out << "history " << id << ": " << query.Text(1) << ", " << TimeText(query.Text(0)) << ", "
      << query.Text(2) << "\n";
  out << "sites: " << query.Text(3) << "\n\n";
  for (const std::string& line : SplitLines(query.Text(4))) out << line << "\n";

  const auto time = ParseStoredDayNumber(query.Text(0));
  std::vector<std::string> shots;
  if (time) {
    // The job began after the row before it was written.
    Statement previous =
        main.Prepare("SELECT time FROM history WHERE rowid < ? ORDER BY rowid DESC LIMIT 1");
    previous.BindInteger(1, id);
    std::optional<double> previousTime;
    if (previous.Step()) previousTime = ParseStoredDayNumber(previous.Text(0));
    shots = ScreenshotsOf(context.ShotsDirectory(), ParseCommaText(query.Text(3)),
                          previousTime.value_or(0.0), *time);
  }
  out << "\nscreenshots:" << (shots.empty() ? " none" : "") << "\n";
  for (const std::string& shot : shots) out << "  " << shot << "\n";
}

}  // namespace veltrane::admin
