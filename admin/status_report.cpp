#include "admin/status_report.h"

#include <algorithm>
#include <ostream>

#include "admin/date_text.h"
#include "admin/text_output.h"
#include "platform/schedule_rule.h"
#include "platform/visible_text.h"
#include "storage/stores.h"

namespace veltrane::admin {
namespace {

// A schedule run once is pushed about 274 years ahead.
constexpr double kDoneAfter = 36500;

bool IsWholeNumber(const std::string& text) {
  return !text.empty() && text.size() < 19 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::string> OptionalTime(const std::optional<double>& time) {
  if (!time) return std::nullopt;
  return FormatDateTime(*time);
}

std::optional<std::string> OptionalText(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text;
}

// "healthy", "STALE since ...", or "last poll failed".
std::string HealthText(const InstanceStatus& instance) {
  if (instance.stale)
    return "STALE since " + FormatDateTime(instance.staleSince) + " (last refreshed " +
           FormatDateTime(instance.refreshed) + ")";
  if (!instance.lastPollError.empty()) return "NOT HEALTHY: its last poll failed";
  return "healthy";
}

std::string JobText(const InstanceJob& job) {
  std::string text = "schedule " + std::to_string(job.schedule) + " (" + job.pressRelease + "): ";
  if (job.siteNumber == 0)
    return text + "starting, " + std::to_string(job.siteCount) + " sites, since " +
           FormatDateTime(job.siteSince);
  return text + "site " + std::to_string(job.siteNumber) + " of " + std::to_string(job.siteCount) +
         ", " + job.site + ", since " + FormatDateTime(job.siteSince);
}

std::string QueuedText(const std::vector<ScheduleId>& queued) {
  if (queued.empty()) return "none";
  std::string text;
  for (const ScheduleId id : queued) text += (text.empty() ? "" : ", ") + std::to_string(id);
  return text;
}

void WriteInstanceJson(JsonWriter& out, const InstanceStatus& instance) {
  out.BeginObject();
  out.Key("instance").Text(instance.instance);
  out.Key("host").Text(instance.host);
  out.Key("pid").Number(instance.pid);
  out.Key("version").Text(instance.version);
  out.Key("started").Text(FormatDateTime(instance.started));
  out.Key("refreshed").Text(FormatDateTime(instance.refreshed));
  out.Key("healthy").Bool(Healthy(instance));
  out.Key("stale").Bool(instance.stale);
  out.Key("staleSince")
      .OptionalText(instance.stale ? OptionalTime(instance.staleSince) : std::nullopt);
  out.Key("lastPoll").OptionalText(OptionalTime(instance.lastPoll));
  out.Key("lastPollError").OptionalText(OptionalText(instance.lastPollError));
  out.Key("job");
  if (instance.job) {
    const InstanceJob& job = *instance.job;
    out.BeginObject();
    out.Key("schedule").Number(job.schedule);
    out.Key("scheduleName").Text(job.scheduleName);
    out.Key("release").Text(job.pressRelease);
    out.Key("siteNumber").Number(job.siteNumber);
    out.Key("siteCount").Number(job.siteCount);
    out.Key("site").OptionalText(OptionalText(job.site));
    out.Key("siteSince").Text(FormatDateTime(job.siteSince));
    out.EndObject();
  } else {
    out.Null();
  }
  out.Key("queued").BeginArray();
  for (const ScheduleId id : instance.queued) out.Number(id);
  out.EndArray();
  out.Key("spoolBacklog").Number(instance.spoolBacklog);
  out.Key("lastError").OptionalText(OptionalText(instance.lastError));
  out.Key("lastErrorAt").OptionalText(OptionalTime(instance.lastErrorAt));
  out.EndObject();
}

}  // namespace

StatusReport ReadStatusReport(const DatabasePaths& paths, SqliteStoreOptions options,
                              const Clock& clock) {
  StatusReport report;
  const auto schedules = MakeScheduleStore(paths, options);
  const std::optional<ServerTime> server = schedules->ServerTimeBase();
  report.now = server ? server->now : clock.Now();
  for (ScheduleEntry& entry : schedules->List()) {
    if (static_cast<int>(report.nextDue.size()) == kNextDueShown) break;
    // Listed by next run: those due now come first.
    if (entry.next && *entry.next <= report.now + kDoneAfter &&
        ScheduleMovesOn(entry.frequency, entry.time))
      report.nextDue.push_back(std::move(entry));
  }
  report.instances = MakeInstanceStatusReader(paths, options)->Instances();
  return report;
}

bool Healthy(const InstanceStatus& instance) {
  return !instance.stale && instance.lastPollError.empty();
}

bool Healthy(const StatusReport& report) {
  if (report.instances.empty()) return false;
  for (const InstanceStatus& instance : report.instances)
    if (!Healthy(instance)) return false;
  return true;
}

void WriteStatusJson(JsonWriter& out, const StatusReport& report) {
  out.BeginObject();
  out.Key("healthy").Bool(Healthy(report));
  out.Key("now").Text(FormatDateTime(report.now));
  out.Key("instances").BeginArray();
  for (const InstanceStatus& instance : report.instances) WriteInstanceJson(out, instance);
  out.EndArray();
  out.Key("nextDue").BeginArray();
  for (const ScheduleEntry& entry : report.nextDue) {
    out.BeginObject();
    // A number, as 'schedule list --json' gives it; the stored text when it is none.
    if (IsWholeNumber(entry.id))
      out.Key("id").Number(std::stoll(entry.id));
    else
      out.Key("id").Text(entry.id);
    out.Key("release").Text(entry.name);
    out.Key("next").Text(FormatDateTime(*entry.next));
    out.Key("due").Bool(*entry.next < report.now);
    out.EndObject();
  }
  out.EndArray();
  out.EndObject();
}

void WriteStatusText(std::ostream& out, const StatusReport& report) {
  if (report.instances.empty())
    out << "No instance of the service has published its status: none is running.\n";
  for (const InstanceStatus& instance : report.instances) {
    // The store's texts may quote pages (an error, a site's name): controls are escaped.
    out << "Instance " << VisibleText(instance.host) << " pid " << instance.pid << " (version "
        << VisibleText(instance.version) << "): " << HealthText(instance) << "\n";
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"  started", FormatDateTime(instance.started)});
    rows.push_back(
        {"  last poll",
         instance.lastPoll
             ? FormatDateTime(*instance.lastPoll) +
                   (instance.lastPollError.empty() ? ", ok" : ", failed: " + instance.lastPollError)
             : "none yet"});
    rows.push_back({"  job", instance.job ? JobText(*instance.job) : "none"});
    rows.push_back({"  queued", QueuedText(instance.queued)});
    rows.push_back({"  spool backlog", std::to_string(instance.spoolBacklog) +
                                           (instance.spoolBacklog == 1 ? " report" : " reports") +
                                           " waiting for the store"});
    rows.push_back({"  last error", instance.lastErrorAt ? FormatDateTime(*instance.lastErrorAt) +
                                                               ", " + instance.lastError
                                                         : "none"});
    PrintTable(out, std::move(rows));
  }
  out << "Next due:";
  if (report.nextDue.empty()) out << " none";
  out << "\n";
  for (const ScheduleEntry& entry : report.nextDue)
    out << "  " << FormatDateTime(*entry.next) << (*entry.next < report.now ? " (due)" : "")
        << "  schedule " << entry.id << " (" << VisibleText(entry.name) << ")\n";
}

}  // namespace veltrane::admin
