// status: what every running instance of the service does now, for an
// operator and for monitoring (its exit code).
#include <string>

#include "admin/admin_error.h"
#include "admin/admin_stores.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/status_report.h"

namespace veltrane::admin {

void RunStatus(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "status", {"json"});
  RequirePositional(parsed, 0, "", "status");
  // The store must be there and hold the schedules, as for 'schedule list'.
  SchedulesOf(context);
  // The service polls the same file once a minute; wait for it rather than fail.
  const StatusReport report = ReadStatusReport(context.Stores(), {10000, true}, context.io.clock);
  if (parsed.Flag("json")) {
    JsonWriter out(context.io.out);
    WriteStatusJson(out, report);
  } else {
    WriteStatusText(context.io.out, report);
  }
  if (report.instances.empty()) Failure("no instance of the service is running");
  int unhealthy = 0;
  for (const InstanceStatus& instance : report.instances)
    if (!Healthy(instance)) ++unhealthy;
  if (unhealthy > 0)
    Failure(std::to_string(unhealthy) + " of " + std::to_string(report.instances.size()) +
            (report.instances.size() == 1 ? " instance is" : " instances are") + " not healthy");
}

}  // namespace veltrane::admin
