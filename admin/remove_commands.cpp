// Taking things out of the store: schedule remove, disable and enable, site
// remove, release remove (ItemRemoval, refused while a job that has not
// ended uses the item), and history prune (PruneHistory, which the service
// runs daily with history_keep_days).
#include <ostream>

#include "admin/admin_error.h"
#include "admin/admin_stores.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/date_text.h"
#include "admin/names.h"
#include "storage/history_prune.h"
#include "storage/item_removal.h"

namespace veltrane::admin {
namespace {

// veltrane-admin waits for the service's lock as long as the other commands do.
constexpr SqliteStoreOptions kOptions{10000, true};

std::string JobsText(const std::vector<std::int64_t>& jobs) {
  return std::string(jobs.size() == 1 ? "job " : "jobs ") + IdRangesText(jobs);
}

std::string SchedulesText(const std::vector<std::string>& ids) {
  std::string text = ids.size() == 1 ? "schedule " : "schedules ";
  for (std::size_t i = 0; i < ids.size(); ++i) text += (i ? ", " : "") + ids[i];
  return text;
}

// The item's removal, its refusals turned into the tool's errors.
Removal Checked(const Removal& removal, const std::string& what) {
  switch (removal.outcome) {
    case Removal::Outcome::Missing: DataError("unknown " + what);
    case Removal::Outcome::InRunningJob:
      Failure(what + " is in use by " + JobsText(removal.jobs) +
              (removal.jobs.size() == 1 ? ", which has not ended; try again once it has"
                                        : ", which have not ended; try again once they have"));
    case Removal::Outcome::ReferredTo:
      DataError(what + " is named by " + SchedulesText(removal.schedules) +
                (removal.schedules.size() == 1 ? " (remove it first, or give --force)"
                                               : " (remove them first, or give --force)"));
    case Removal::Outcome::Done: break;
  }
  return removal;
}

std::unique_ptr<ItemRemoval> RemovalOf(AdminContext& context) {
  // Made the way the other commands make their stores, so that a missing
  // file or table fails the same way.
  SchedulesOf(context);
  return MakeItemRemoval(context.Stores(), kOptions);
}

ScheduleId ScheduleArgument(Arguments args, const char* command) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, command);
  RequirePositional(parsed, 1, "ID", command);
  return ParseRowId(parsed.positional[0], "schedule id");
}

}  // namespace

void RunScheduleRemove(AdminContext& context, Arguments args) {
  const ScheduleId id = ScheduleArgument(args, "schedule remove");
  const std::string what = "schedule " + std::to_string(id);
  Checked(RemovalOf(context)->RemoveSchedule(id), what);
  context.io.out << "removed " << what << "\n";
}

void RunScheduleDisable(AdminContext& context, Arguments args) {
  const ScheduleId id = ScheduleArgument(args, "schedule disable");
  const std::string what = "schedule " + std::to_string(id);
  Checked(RemovalOf(context)->SetScheduleDisabled(id, true), what);
  context.io.out << "disabled " << what << ": the service does not run it until 'schedule enable "
                 << id << "'\n";
}

void RunScheduleEnable(AdminContext& context, Arguments args) {
  const ScheduleId id = ScheduleArgument(args, "schedule enable");
  const std::string what = "schedule " + std::to_string(id);
  Checked(RemovalOf(context)->SetScheduleDisabled(id, false), what);
  context.io.out << "enabled " << what << "\n";
}

void RunSiteRemove(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "site remove");
  RequirePositional(parsed, 1, "NAME", "site remove");
  const std::string& site = parsed.positional[0];
  SitesOf(context)->CheckAccounts();
  const Removal removal = Checked(RemovalOf(context)->RemoveSite(site), "site " + Quoted(site));
  context.io.out << "removed site " << Quoted(site) << " and its account\n";
  if (!removal.schedules.empty())
    context.io.err << "veltrane-admin: warning: " << SchedulesText(removal.schedules)
                   << (removal.schedules.size() == 1 ? " still lists site " : " still list site ")
                   << Quoted(site) << "; the service fails it there (see 'schedule remove')\n";
}

void RunReleaseRemove(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "release remove", {"force"});
  RequirePositional(parsed, 1, "NAME", "release remove");
  const std::string& release = parsed.positional[0];
  ReleasesOf(context);
  const Removal removal = Checked(RemovalOf(context)->RemoveRelease(release, parsed.Flag("force")),
                                  "release " + Quoted(release));
  context.io.out << "removed release " << Quoted(release) << "\n";
  if (!removal.schedules.empty())
    context.io.err << "veltrane-admin: warning: " << SchedulesText(removal.schedules)
                   << (removal.schedules.size() == 1 ? " still names release "
                                                     : " still name release ")
                   << Quoted(release)
                   << "; the service drops its jobs without running them (see 'schedule "
                      "remove' and 'schedule disable')\n";
}

void RunHistoryPrune(AdminContext& context, Arguments args) {
  const char* command = "history prune";
  const CommandArgs parsed = ParseCommandArgs(args, {"older-than"}, command);
  RequirePositional(parsed, 0, "", command);
  if (!parsed.Has("older-than"))
    UsageError("history prune: give --older-than DAYS (see 'veltrane-admin history prune --help')");
  const int days = ParseCountOption(parsed, "older-than", 0);
  HistoryOf(context);
  const double before = context.io.clock.Now() - days;
  PruneOptions options;
  options.shotsDirectory = context.ShotsDirectory();
  const PruneResult result = PruneHistory(context.Stores(), kOptions, before, options);

  std::ostream& out = context.io.out;
  const std::string older = "older than " + std::to_string(days) + (days == 1 ? " day" : " days") +
                            " (before " + FormatDateTime(before) + ")";
  if (result.Empty()) out << "nothing " << older << " to remove\n";
  if (!result.historyIds.empty())
    out << "removed " << result.historyIds.size() << " history row"
        << (result.historyIds.size() == 1 ? "" : "s") << " " << older << ": "
        << IdRangesText(result.historyIds) << "\n";
  if (result.jobs > 0)
    out << "removed " << result.jobs << " job" << (result.jobs == 1 ? "" : "s") << " and "
        << result.siteOutcomes << " site outcome" << (result.siteOutcomes == 1 ? "" : "s")
        << " from the job journal\n";
  for (const std::string& shot : result.screenshots) out << "removed " << shot << "\n";
  if (result.unreadableTimes > 0)
    context.io.err << "veltrane-admin: warning: kept " << result.unreadableTimes << " history row"
                   << (result.unreadableTimes == 1 ? "" : "s") << " whose time cannot be read\n";
}

}  // namespace veltrane::admin
