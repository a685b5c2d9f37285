#include "web/web_routes.h"

#include <algorithm>
#include <charconv>
#include <exception>

#include "storage/storage_error.h"
#include "web/html.h"
#include "web/pages.h"
#include "web/shot_files.h"
#include "web/web_hosts.h"

namespace veltrane::web {
namespace {

// Nothing from elsewhere, no script at all, no framing; the pictures and the
// style sheet are the server's own.
constexpr const char* kPolicy =
    "default-src 'none'; img-src 'self'; style-src 'self'; form-action 'none'; "
    "frame-ancestors 'none'; base-uri 'none'";

WebResponse Html(int status, std::string body) {
  return {status, "text/html; charset=utf-8", std::move(body), {}};
}

WebResponse Text(int status, std::string body) {
  return {status, "text/plain; charset=utf-8", std::move(body), {}};
}

std::optional<long long> Number(const Query& query, const std::string& key) {
  const auto found = query.find(key);
  if (found == query.end()) return std::nullopt;
  long long value = 0;
  const std::string& text = found->second;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string Value(const Query& query, const std::string& key) {
  const auto found = query.find(key);
  return found == query.end() ? "" : found->second;
}

bool Flag(const Query& query, const std::string& key) {
  const std::string value = Value(query, key);
  return value == "1" || value == "true" || value == "yes";
}

}  // namespace

WebRoutes::WebRoutes(WebSetup setup)
    : setup_(std::move(setup)), guard_(setup_.token, setup_.secure), facts_(setup_.paths) {}

std::string WebRoutes::SignInPath() const {
  return guard_.OneTimeCode().empty() ? "" : "/signin?code=" + guard_.OneTimeCode();
}

WebResponse WebRoutes::Answer(const WebRequest& request) {
  WebResponse response;
  if (!IsOwnHost(request.host, setup_.listenHost, setup_.names)) {
    response = Text(421,
                    "This server answers only to its own names: its address, localhost, and "
                    "the names in web_names in veltrane.conf.\n");
  } else if (request.method != "GET" && request.method != "HEAD") {
    response = Text(405, "This view only reads; nothing can be changed through it.\n");
    response.headers.emplace_back("Allow", "GET, HEAD");
  } else if (request.path == "/signin") {
    response = SignIn(request);
  } else if (!guard_.Allows(request.peer, request.authorization, request.cookie)) {
    response = Text(401,
                    "A token is needed: send 'Authorization: Bearer TOKEN' (web_token in "
                    "veltrane.conf), or open the sign-in link printed at start.\n");
    response.headers.emplace_back("WWW-Authenticate", "Bearer");
  } else {
    try {
      response = Route(request);
    } catch (const StorageError& error) {
      response = Html(500, PageFrame("Store not readable", "<p>" + Escape(error.Where()) + ": " +
                                                               Escape(error.Detail()) + "</p>\n"));
    } catch (const std::exception& error) {
      response = Html(500, PageFrame("Error", "<p>" + Escape(error.what()) + "</p>\n"));
    }
  }
  response.headers.emplace_back("Content-Security-Policy", kPolicy);
  response.headers.emplace_back("X-Content-Type-Options", "nosniff");
  response.headers.emplace_back("Referrer-Policy", "no-referrer");
  response.headers.emplace_back("Cache-Control", "no-store");
  return response;
}

// A one-time link begins a session of its own, by GET only: a look at the
// link (HEAD, as link checkers send) leaves it unspent. With the token, a GET
// without a code gives a new link, in place of the last.
WebResponse WebRoutes::SignIn(const WebRequest& request) {
  if (request.method != "GET") {
    WebResponse response = Text(405, "A sign-in link works by GET only.\n");
    response.headers.emplace_back("Allow", "GET");
    return response;
  }
  if (!request.query.count("code") && guard_.CarriesToken(request.authorization))
    return Text(200, "sign in once at " + std::string(setup_.secure ? "https://" : "http://") +
                         request.host + "/signin?code=" + guard_.RenewOneTimeCode() + "\n");
  const std::optional<std::string> cookie = guard_.Redeem(Value(request.query, "code"));
  if (!cookie) return Text(403, "This sign-in link is not valid (it works once).\n");
  WebResponse response = Text(303, "Signed in.\n");
  response.headers.emplace_back("Set-Cookie", *cookie);
  response.headers.emplace_back("Location", "/");
  return response;
}

WebResponse WebRoutes::Route(const WebRequest& request) {
  const std::string& path = request.path;
  const Query& query = request.query;
  if (path == "/") {
    OverviewFacts overview;
    if (setup_.status)
      overview.status = setup_.status();
    else
      overview.status.now = setup_.clock->Now();
    overview.lastJobs = facts_.LastJobs(kOverviewJobs);
    return Html(200, OverviewPage(overview));
  }
  if (path == "/job") {
    const std::optional<long long> id = Number(query, "id");
    const std::optional<JobFacts> job = id ? facts_.Job(*id) : std::nullopt;
    if (!job) return Html(404, NotFoundPage("There is no such job: " + Value(query, "id")));
    return Html(200, JobPage(*job));
  }
  if (path == "/site") {
    const std::string name = Value(query, "name");
    SiteFacts site = facts_.Site(name, kSiteOutcomes);
    if (!site.site && site.outcomes.empty())
      return Html(404, NotFoundPage("There is no such site: " + name));
    return Html(200, SitePage(site));
  }
  if (path == "/grid") {
    const int jobs = static_cast<int>(
        std::clamp<long long>(Number(query, "jobs").value_or(kGridJobs), 1, kMostGridJobs));
    GridOptions options;
    options.byFailures = Value(query, "sort") == "failures";
    options.failingOnly = Flag(query, "failing");
    return Html(200, GridPage(BuildGrid(facts_.Grid(jobs), options), options, jobs));
  }
  if (path == "/shot") return Shot(query);
  if (path == "/style.css") return {200, "text/css; charset=utf-8", std::string(StyleSheet()), {}};
  if (path.starts_with("/api/") && setup_.api) return setup_.api(path.substr(5), query);
  return Html(404, NotFoundPage("There is no page " + path));
}

// A recorded screenshot: of a job's site (job, position) or a site's newest (site).
WebResponse WebRoutes::Shot(const Query& query) {
  std::string recorded;
  if (query.count("site")) {
    for (const SiteOutcome& outcome : facts_.Site(Value(query, "site"), kSiteOutcomes).outcomes)
      if (IsServableShot(outcome.record.evidence.screenshot)) {
        recorded = outcome.record.evidence.screenshot;
        break;
      }
  } else if (const auto id = Number(query, "job"), position = Number(query, "position");
             id && position) {
    if (const std::optional<JobFacts> job = facts_.Job(*id))
      for (const SiteOutcome& outcome : job->sites)
        if (outcome.record.position == *position) recorded = outcome.record.evidence.screenshot;
  }
  std::optional<std::string> bytes = ReadShot(setup_.shotsDirectory, recorded);
  if (!bytes) return Text(404, "No such screenshot.\n");
  return {200, "image/png", std::move(*bytes), {}};
}

}  // namespace veltrane::web
