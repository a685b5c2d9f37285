#include "admin/web_api.h"

#include <sstream>

#include "admin/admin_stores.h"
#include "admin/commands.h"
#include "admin/json_writer.h"

namespace veltrane::admin {
namespace {

struct ApiRoute {
  std::string_view path;
  std::string_view group;
  std::string_view name;
  std::vector<std::string> fixed;              // options always given
  std::vector<std::string_view> valueOptions;  // query values passed on as --name=value
  std::vector<std::string_view> flagOptions;   // query flags ("1") passed on as --name
};

const std::vector<ApiRoute>& Routes() {
  static const std::vector<ApiRoute> routes = {
      {"status", "", "status", {}, {}, {}},
      {"history", "history", "list", {}, {"limit", "since"}, {"failed"}},
      {"sites", "site", "list", {}, {}, {}},
      {"sites/failing", "site", "list", {"--failing"}, {"runs"}, {}},
      {"stats", "site", "stats", {}, {"days"}, {}},
      {"schedules", "schedule", "list", {}, {}, {}},
      {"releases", "release", "list", {}, {}, {}},
  };
  return routes;
}

web::WebResponse Json(int status, std::string body) {
  return {status, "application/json; charset=utf-8", std::move(body), {}};
}

web::WebResponse Error(int status, const std::string& message) {
  return Json(status, "{\"error\": " + JsonString(message) + "}\n");
}

const Command* Find(std::string_view group, std::string_view name) {
  for (const Command& command : AllCommands())
    if (command.group == group && command.name == name) return &command;
  return nullptr;
}

}  // namespace

web::WebResponse AnswerApi(const AdminContext& context, const std::string& path,
                           const web::Query& query) {
  for (const ApiRoute& route : Routes()) {
    if (route.path != path) continue;
    const Command* command = Find(route.group, route.name);
    if (!command) break;
    // Values go as "--name=value": a value can never become an option of its own.
    std::vector<std::string> args = route.fixed;
    for (const std::string_view option : route.valueOptions)
      if (const auto found = query.find(std::string(option)); found != query.end())
        args.push_back("--" + std::string(option) + "=" + found->second);
    for (const std::string_view flag : route.flagOptions)
      if (const auto found = query.find(std::string(flag));
          found != query.end() && (found->second == "1" || found->second == "true"))
        args.push_back("--" + std::string(flag));
    args.push_back("--json");

    std::istringstream in;
    std::ostringstream out, err;
    const AdminIo io{in, out, err, context.io.clock, false};
    AdminContext commandContext{context.dir, io};
    try {
      command->run(commandContext, args);
    } catch (const CommandError& error) {
      // status prints its whole document, then fails when an instance is not
      // healthy: monitoring gets the document with a status that says so.
      if (error.ExitCode() == kExitFailure && !out.str().empty()) return Json(503, out.str());
      return Error(error.ExitCode() == kExitFailure ? 503 : 400, error.what());
    } catch (const StorageError& failure) {
      const CommandError error = CommandErrorOf(failure);
      return Error(error.ExitCode() == kExitFailure ? 503 : 500, error.what());
    }
    return Json(200, out.str());
  }
  return Error(404, "no such document: /api/" + path);
}

}  // namespace veltrane::admin
