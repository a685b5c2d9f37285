// schedule add, list and run-now over the schedule store. The
// service polls for rows whose next run lies before now, so a schedule is
// made due by setting its next run a moment into the past. A schedule that
// never moves on (ScheduleMovesOn) is refused by add and marked by list.
// On a shared server "now" is the server's local time, which every instance
// judges due times by; list says so.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>

#include "admin/admin_error.h"
#include "admin/admin_stores.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/date_text.h"
#include "admin/json_writer.h"
#include "admin/names.h"
#include "admin/text_output.h"
#include "platform/date_text.h"
#include "platform/number_text.h"
#include "platform/schedule_rule.h"
#include "platform/text_lists.h"

namespace veltrane::admin {
namespace {

constexpr double kOneSecond = 1.0 / 86400.0;
constexpr std::string_view kFrequencies[] = {"once", "daily", "weekly", "every-30-days"};

// A frequency by name, or the code the service stores: any code outside 0-3
// adds no days, so the time alone moves the schedule on (a custom interval).
int FrequencyCode(const std::string& text) {
  for (int code = 0; code < 4; ++code)
    if (EqualsIgnoringAsciiCase(text, kFrequencies[code])) return code;
  int code = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code);
  if (!text.empty() && error == std::errc() && end == text.data() + text.size()) return code;
  DataError("unknown frequency " + Quoted(text) +
            " (once, daily, weekly, every-30-days or a whole-number code)");
}

// Why a schedule is refused or marked: the service would find it due at every poll.
std::string NeverMovesOn(int frequency, double time) {
  return "never moves on (frequency " + std::to_string(frequency) + ", time " +
         SqlNumberText(time) + ")";
}

std::vector<std::string> SiteList(const std::string& text) {
  std::vector<std::string> sites;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    sites.push_back(TrimBlanks(std::string_view(text).substr(start, comma - start)));
    if (sites.back().empty()) DataError("--sites " + Quoted(text) + " holds an empty site name");
    start = comma + 1;
  }
  return sites;
}

// An id the service can run: decimal digits that fit a row id.
bool IsRowId(const std::string& text) {
  long long id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

std::string TimeText(double days) {
  if (days > 0 && days < 1) {
    const long minutes = std::lround(days * 1440);
    char text[48];
    std::snprintf(text, sizeof text, "%02ld:%02ld", minutes / 60, minutes % 60);
    return text;
  }
  return SqlNumberText(days) + (days == 1 ? " day" : " days");
}

// Now on the time base due times are judged on: a shared server's local
// time, or this machine's for the files.
double ScheduleNow(AdminContext& context, ScheduleStore& schedules) {
  const std::optional<ServerTime> server = schedules.ServerTimeBase();
  return server ? server->now : context.io.clock.Now();
}

}  // namespace

void RunScheduleAdd(AdminContext& context, Arguments args) {
  const char* command = "schedule add";
  const CommandArgs parsed =
      ParseCommandArgs(args, {"release", "sites", "frequency", "first", "time"}, command);
  RequirePositional(parsed, 0, "", command);
  const std::string& release = parsed.Required("release", command);
  const std::vector<std::string> sites = SiteList(parsed.Required("sites", command));
  const int frequency = FrequencyCode(parsed.Required("frequency", command));
  const std::string& firstText = parsed.Required("first", command);
  const auto schedules = SchedulesOf(context);
  const double now = ScheduleNow(context, *schedules);
  const std::optional<double> first =
      firstText == "now" ? std::optional<double>(now - kOneSecond) : ParseDateTime(firstText);
  if (!first)
    DataError("--first " + Quoted(firstText) +
              " is not a local date and time (YYYY-MM-DD HH:MM) or 'now'");
  const std::string timeText = parsed.Optional("time", "0");
  const std::optional<double> time = ParseDaysOrTime(timeText);
  if (!time) DataError("--time " + Quoted(timeText) + " is neither HH:MM nor a number of days");
  if (!ScheduleMovesOn(frequency, *time))
    DataError("schedule " + NeverMovesOn(frequency, *time) + ": the frequency's days (" +
              std::to_string(FrequencyDays(frequency)) + ") plus --time must be more than 0, " +
              "or the service would find it due at every poll");

  std::vector<std::string> warnings;
  const auto siteStore = SitesOf(context);
  for (const std::string& site : sites)
    if (!siteStore->Exists(site)) DataError("unknown site " + Quoted(site));
  const auto releases = ReleasesOf(context);
  siteStore->CheckAccounts();
  if (!releases->Exists(release)) DataError("unknown release " + Quoted(release));
  for (const std::string& site : sites)
    if (!siteStore->FindAccount(site))
      warnings.push_back("site " + Quoted(site) + " has no account (see 'account set')");

  const ScheduleId id = schedules->Add({release, sites, frequency, *time, *first});
  context.io.out << "added schedule " << id << ", first run "
                 << (firstText == "now" ? "at the service's next poll" : FormatDateTime(*first))
                 << "\n";
  if (firstText != "now" && *first < now)
    warnings.push_back("the first run lies in the past; the service runs it at its next poll");
  for (const std::string& warning : warnings)
    context.io.err << "veltrane-admin: warning: " << warning << "\n";
}

void RunScheduleList(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "schedule list", {"json"});
  RequirePositional(parsed, 0, "", "schedule list");
  const bool json = parsed.Flag("json");
  const auto schedules = SchedulesOf(context);
  const std::optional<ServerTime> server = schedules->ServerTimeBase();
  const double now = server ? server->now : context.io.clock.Now();
  // Read before anything is printed, so that a failure prints no half document.
  const std::vector<ScheduleEntry> entries = schedules->List();
  std::vector<std::vector<std::string>> rows = {
      {"ID", "RELEASE", "SITES", "FREQUENCY", "TIME", "NEXT RUN"}};
  JsonWriter out(context.io.out);
  if (json) {
    out.BeginObject();
    out.Key("schedules").BeginArray();
  }
  for (const ScheduleEntry& entry : entries) {
    // As the service reads them: the low 32 bits of the code, NULL as 0 and 0.0.
    const int code = entry.frequency;
    const double time = entry.time;
    const bool movesOn = ScheduleMovesOn(code, time);
    const std::string frequency =
        code >= 0 && code < 4 ? std::string(kFrequencies[code]) : "code " + std::to_string(code);
    // A schedule that ran once is pushed about 274 years ahead. The service
    // skips an invalid one, so it is never really due.
    const bool done = entry.next && *entry.next > now + 36500;
    const bool due = entry.next && *entry.next < now && movesOn && !entry.disabled;
    if (json) {
      out.BeginObject();
      if (IsRowId(entry.id))
        out.Key("id").Number(std::stoll(entry.id));
      else
        out.Key("id").Text(entry.id);
      out.Key("release").Text(entry.name);
      out.Key("sites").Texts(entry.sites);
      out.Key("frequency").Number(code);
      out.Key("time").Real(time);
      out.Key("next").OptionalText(entry.next && !done ? std::optional(FormatDateTime(*entry.next))
                                                       : std::nullopt);
      out.Key("done").Bool(done);
      out.Key("due").Bool(due);
      out.Key("disabled").Bool(entry.disabled);
      out.Key("invalid").OptionalText(movesOn ? std::nullopt
                                              : std::optional(NeverMovesOn(code, time)));
      out.EndObject();
      continue;
    }
    std::string sites;
    for (const std::string& site : entry.sites) sites += (sites.empty() ? "" : ",") + site;
    std::string next = "(none)";
    if (entry.next) next = done ? "done" : FormatDateTime(*entry.next) + (due ? " (due)" : "");
    if (entry.disabled) next += " (disabled)";
    if (!movesOn) next += " - invalid: " + NeverMovesOn(code, time);
    rows.push_back({entry.id, entry.name, sites, frequency, TimeText(time), next});
  }
  if (json) {
    out.EndArray();
    // Every instance on a server runs by its time, whatever the instance's own zone.
    if (server) {
      out.Key("time_base").BeginObject();
      out.Key("zone").Text(server->zone);
      out.Key("utc_offset").Text(UtcOffsetText(server->utcOffsetSeconds));
      out.Key("now").Text(FormatDateTime(server->now));
      out.EndObject();
    }
    out.EndObject();
    return;
  }
  PrintTable(context.io.out, std::move(rows));
  if (server)
    context.io.out << "Every instance runs schedules by the database server's local time: "
                   << server->zone << " (" << UtcOffsetText(server->utcOffsetSeconds) << "), now "
                   << FormatDateTime(server->now) << "\n";
}

void RunScheduleRunNow(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "schedule run-now");
  RequirePositional(parsed, 1, "ID", "schedule run-now");
  const long long id = ParseRowId(parsed.positional[0], "schedule id");
  const auto schedules = SchedulesOf(context);
  if (!schedules->SetNextRun(id, ScheduleNow(context, *schedules) - kOneSecond))
    DataError("unknown schedule " + std::to_string(id));
  context.io.out << "schedule " << id << " runs at the service's next poll\n";
  for (const ScheduleEntry& entry : schedules->List())
    if (entry.disabled && IsRowId(entry.id) && std::stoll(entry.id) == id)
      context.io.err << "veltrane-admin: warning: schedule " << id
                     << " is disabled: it runs once enabled ('schedule enable " << id << "')\n";
}

}  // namespace veltrane::admin
