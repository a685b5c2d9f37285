// The web view's /api/...: the very --json documents of veltrane-admin's
// commands, made by running those commands (only those that read) on the
// service's directory, with the query's values as their options.
#pragma once

#include "admin/admin_context.h"
#include "web/web_routes.h"

namespace veltrane::admin {

// /api/status         status --json (503 when an instance is not healthy)
// /api/history        history list --json  (limit, since, failed)
// /api/sites          site list --json
// /api/sites/failing  site list --failing --json  (runs)
// /api/stats          site stats --json  (days)
// /api/schedules      schedule list --json
// /api/releases       release list --json
web::WebResponse AnswerApi(const AdminContext& context, const std::string& path,
                           const web::Query& query);

}  // namespace veltrane::admin
