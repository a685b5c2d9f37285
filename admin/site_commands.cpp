// site add, update, list, show and check over the site store (the user comes
// from the site's account).
#include <optional>
#include <ostream>

#include "admin/admin_error.h"
#include "admin/admin_stores.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/json_writer.h"
#include "admin/names.h"
#include "admin/script_check.h"
#include "admin/site_reports.h"
#include "admin/text_output.h"
#include "engine/site_script.h"
#include "platform/text_lists.h"

namespace veltrane::admin {
namespace {

// The service navigates to the address as it stands, so it must be absolute.
void CheckUrl(const std::string& url) {
  const std::string lower = LowerAscii(url);
  bool clean = !url.empty();
  for (const char c : url)
    if (static_cast<unsigned char>(c) <= 32 || c == 127) clean = false;
  if (!clean || !(lower.starts_with("http://") || lower.starts_with("https://")))
    DataError("start address " + Quoted(url) + " is not an http:// or https:// address");
}

// Printed once the command has done its work, so a failing command stays one line.
void WarnAboutScript(AdminContext& context, const std::string& script) {
  for (const std::string& warning : CheckScript(script).warnings)
    context.io.err << "veltrane-admin: warning: " << warning << "\n";
}

// A step script from a file, read as bytes, without the byte-order mark an
// editor may have put before it (the service ignores one; the stored script
// starts clean). A script holding a NUL byte or without step 1 is refused: the
// service would fail the site at once.
std::string ReadScriptFile(AdminContext& context, const std::string& path) {
  std::string script(WithoutByteOrderMark(ReadInputFile(context, path)));
  if (script.find('\0') != std::string::npos) DataError(std::string(kNulByteError));
  if (!ScriptHasSteps(script)) DataError(std::string(kNoStepsError));
  return script;
}

int StepCount(std::string_view script) {
  const ParsedScript parsed(script);
  int steps = 0;
  while (parsed.HasSection(StepSectionName(steps + 1))) ++steps;
  return steps;
}

}  // namespace

void RunSiteAdd(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {"url", "script"}, "site add");
  RequirePositional(parsed, 1, "NAME", "site add");
  const std::string& name = parsed.positional[0];
  const std::string& url = parsed.Required("url", "site add");
  const std::string& scriptPath = parsed.Required("script", "site add");
  CheckSiteName(name);
  CheckUrl(url);
  const std::string script = ReadScriptFile(context, scriptPath);
  if (!SitesOf(context)->Add(name, url, script))
    DataError("site " + Quoted(name) + " exists already (use 'site update')");
  context.io.out << "added site " << Quoted(name) << " with " << StepCount(script) << " steps\n";
  WarnAboutScript(context, script);
}

void RunSiteUpdate(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {"url", "script"}, "site update");
  RequirePositional(parsed, 1, "NAME", "site update");
  const std::string& name = parsed.positional[0];
  if (!parsed.Has("url") && !parsed.Has("script"))
    UsageError(
        "site update: give --url, --script or both (see 'veltrane-admin site update --help')");
  if (parsed.Has("url")) CheckUrl(parsed.Optional("url"));
  const std::string script =
      parsed.Has("script") ? ReadScriptFile(context, parsed.Optional("script")) : "";
  std::optional<std::string> url;
  if (parsed.Has("url")) url = parsed.Optional("url");
  if (!SitesOf(context)->Update(name, url,
                                parsed.Has("script") ? std::optional(script) : std::nullopt))
    DataError("unknown site " + Quoted(name) + " (use 'site add')");
  context.io.out << "updated site " << Quoted(name) << "\n";
  if (parsed.Has("script")) WarnAboutScript(context, script);
}

void RunSiteList(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {"runs"}, "site list", {"failing", "json"});
  RequirePositional(parsed, 0, "", "site list");
  if (parsed.Has("runs") && !parsed.Flag("failing"))
    UsageError("site list: --runs goes with --failing (see 'veltrane-admin site list --help')");
  if (parsed.Flag("failing"))
    return PrintFailingSites(context, ParseCountOption(parsed, "runs", kFailingRuns),
                             parsed.Flag("json"));
  const auto sites = SitesOf(context);
  sites->CheckAccounts();
  const std::vector<SiteEntry> entries = sites->List();
  if (parsed.Flag("json")) {
    JsonWriter json(context.io.out);
    json.BeginObject();
    json.Key("sites").BeginArray();
    for (const SiteEntry& site : entries) {
      json.BeginObject();
      json.Key("name").Text(site.name);
      json.Key("url").Text(site.url);
      json.Key("steps").Number(StepCount(site.script));
      json.Key("user").OptionalText(site.account ? std::optional(site.account->user)
                                                 : std::nullopt);
      json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return;
  }
  std::vector<std::vector<std::string>> rows = {{"NAME", "URL", "STEPS", "USER"}};
  for (const SiteEntry& site : entries)
    rows.push_back({site.name, site.url, std::to_string(StepCount(site.script)),
                    site.account ? site.account->user : "(no account)"});
  PrintTable(context.io.out, std::move(rows));
}

void RunSiteShow(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "site show");
  RequirePositional(parsed, 1, "NAME", "site show");
  const std::string& name = parsed.positional[0];
  const auto sites = SitesOf(context);
  sites->CheckAccounts();
  const std::optional<SiteEntry> site = sites->Find(name);
  if (!site) DataError("unknown site " + Quoted(name));
  std::ostream& out = context.io.out;
  out << "name: " << name << "\nurl: " << site->url << "\n";
  if (const std::optional<AccountSummary>& account = site->account)
    out << "user: " << account->user << "\npassword: " << (account->hasPassword ? "set" : "empty")
        << "\n";
  else
    out << "user: (no account)\n";
  out << "script:\n";
  for (const std::string& line : SplitLines(WithoutByteOrderMark(site->script)))
    out << line << "\n";
}

void RunSiteCheck(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {"file"}, "site check");
  std::string script;
  if (parsed.Has("file")) {
    RequirePositional(parsed, 0, "", "site check");
    script = ReadInputFile(context, parsed.Optional("file"));
  } else {
    RequirePositional(parsed, 1, "NAME or --file FILE", "site check");
    const std::optional<std::string> stored = SitesOf(context)->Script(parsed.positional[0]);
    if (!stored) DataError("unknown site " + Quoted(parsed.positional[0]));
    script = *stored;
  }
  const ScriptCheck check = CheckScript(script);
  context.io.out << FormatScriptCheck(check);
  // The report stands on standard output; the exit code tells a script that
  // the service cannot run.
  if (!check.errors.empty()) DataError(check.errors.front());
}

}  // namespace veltrane::admin
