// serve: the read-only web view over the service's stores, until SIGINT or
// SIGTERM. It prints where it listens (and the one-time sign-in link when a
// token is set) on standard output, one line each, then serves.
#include <glib-unix.h>
#include <glib.h>

#include <csignal>
#include <ostream>

#include "admin/admin_error.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/status_report.h"
#include "admin/web_api.h"
#include "web/web_access.h"
#include "web/web_server.h"
#include "web/web_settings.h"

namespace veltrane::admin {
namespace {

gboolean Quit(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_CONTINUE;
}

}  // namespace

void RunServe(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {"listen"}, "serve");
  RequirePositional(parsed, 0, "", "serve");
  const std::string listenText = parsed.Optional("listen", web::kDefaultListen);
  const std::optional<web::ListenAddress> listen = web::ParseListenAddress(listenText);
  if (!listen)
    UsageError("--listen '" + listenText +
               "' is not ADDRESS:PORT (a numeric address: 127.0.0.1:8470, [::1]:8470)");

  web::WebSettings settings;
  try {
    settings = web::ConfiguredWebSettingsIn(context.dir);
  } catch (const std::runtime_error& error) {
    Failure(error.what());
  }
  web::WebSetup setup;
  setup.paths = context.Stores();
  setup.shotsDirectory = context.ShotsDirectory();
  setup.token = settings.token;
  setup.names = settings.names;
  setup.clock = &context.io.clock;
  const AdminContext& apiContext = context;
  setup.api = [&apiContext](const std::string& path, const web::Query& query) {
    return AnswerApi(apiContext, path, query);
  };
  // The overview's instances and next runs: the facts 'status' shows.
  setup.status = [&apiContext] {
    StatusReport report = ReadStatusReport(apiContext.Stores(), {10000, true}, apiContext.io.clock);
    return web::ServiceStatus{report.now, std::move(report.instances), std::move(report.nextDue)};
  };

  std::unique_ptr<GMainLoop, decltype(&g_main_loop_unref)> loop(g_main_loop_new(nullptr, FALSE),
                                                                g_main_loop_unref);
  std::unique_ptr<web::WebServer> server;
  try {
    server = std::make_unique<web::WebServer>(
        *listen, std::move(setup),
        web::WebTransport{settings.certificate, settings.key, settings.plainHttp});
  } catch (const std::runtime_error& error) {
    Failure(error.what());
  }
  context.io.out << "serving " << server->BaseUrl() << "/ (read-only)\n";
  if (const std::string link = server->SignInLink(); !link.empty())
    context.io.out << "sign in once at " << link << "\n";
  context.io.out.flush();

  const guint interrupt = g_unix_signal_add(SIGINT, Quit, loop.get());
  const guint terminate = g_unix_signal_add(SIGTERM, Quit, loop.get());
  g_main_loop_run(loop.get());
  g_source_remove(interrupt);
  g_source_remove(terminate);
}

}  // namespace veltrane::admin
