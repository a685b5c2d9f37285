// site add, update, list, show and check over the subscription table of
// db/subscription2.dat (and the account table of db/vt.dat for the user).
#include <ostream>

#include "admin/admin_error.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/names.h"
#include "admin/script_check.h"
#include "admin/site_store.h"
#include "admin/sqlite_access.h"
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
  Database sites = OpenSites(context, Database::Access::kReadWrite);
  Transaction transaction(sites);
  if (SiteExists(sites, name))
    DataError("site " + Quoted(name) + " exists already (use 'site update')");
  Statement insert =
      sites.Prepare("INSERT INTO subscription (name, url, submission_data) VALUES (?, ?, ?)");
  insert.Bind(1, name).Bind(2, url).Bind(3, script).Run();
  transaction.Commit();
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
  Database sites = OpenSites(context, Database::Access::kReadWrite);
  Transaction transaction(sites);
  if (!SiteExists(sites, name)) DataError("unknown site " + Quoted(name) + " (use 'site add')");
  if (parsed.Has("url"))
    sites.Prepare("UPDATE subscription SET url = ? WHERE name = ?")
        .Bind(1, parsed.Optional("url"))
        .Bind(2, name)
        .Run();
  if (parsed.Has("script"))
    sites.Prepare("UPDATE subscription SET submission_data = ? WHERE name = ?")
        .Bind(1, script)
        .Bind(2, name)
        .Run();
  transaction.Commit();
  context.io.out << "updated site " << Quoted(name) << "\n";
  if (parsed.Has("script")) WarnAboutScript(context, script);
}

void RunSiteList(AdminContext& context, Arguments args) {
  RequirePositional(ParseCommandArgs(args, {}, "site list"), 0, "", "site list");
  Database sites = OpenSites(context, Database::Access::kReadOnly);
  Database accounts = OpenAccounts(context, Database::Access::kReadOnly);
  Statement query =
      sites.Prepare("SELECT name, url, submission_data FROM subscription ORDER BY name");
  std::vector<std::vector<std::string>> rows = {{"NAME", "URL", "STEPS", "USER"}};
  while (query.Step()) {
    const auto account = FindAccount(accounts, query.Text(0));
    rows.push_back({query.Text(0), query.Text(1), std::to_string(StepCount(query.Text(2))),
                    account ? account->user : "(no account)"});
  }
  PrintTable(context.io.out, std::move(rows));
}

void RunSiteShow(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "site show");
  RequirePositional(parsed, 1, "NAME", "site show");
  const std::string& name = parsed.positional[0];
  Database sites = OpenSites(context, Database::Access::kReadOnly);
  Database accounts = OpenAccounts(context, Database::Access::kReadOnly);
  Statement query = sites.Prepare("SELECT url, submission_data FROM subscription WHERE name = ?");
  query.Bind(1, name);
  if (!query.Step()) DataError("unknown site " + Quoted(name));
  const auto account = FindAccount(accounts, name);
  std::ostream& out = context.io.out;
  out << "name: " << name << "\nurl: " << query.Text(0) << "\n";
  if (account)
    out << "user: " << account->user << "\npassword: " << (account->hasPassword ? "set" : "empty")
        << "\n";
  else
    out << "user: (no account)\n";
  out << "script:\n";
  for (const std::string& line : SplitLines(WithoutByteOrderMark(query.Text(1))))
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
    Database sites = OpenSites(context, Database::Access::kReadOnly);
    Statement query = sites.Prepare("SELECT submission_data FROM subscription WHERE name = ?");
    query.Bind(1, parsed.positional[0]);
    if (!query.Step()) DataError("unknown site " + Quoted(parsed.positional[0]));
    script = query.Text(0);
  }
  const ScriptCheck check = CheckScript(script);
  context.io.out << FormatScriptCheck(check);
  // The report stands on standard output; the exit code tells a script that
  // the service cannot run.
  if (!check.errors.empty()) DataError(check.errors.front());
}

}  // namespace veltrane::admin
