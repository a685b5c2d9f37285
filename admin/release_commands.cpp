// release add, update, list and show over the press release store.
#include <ostream>

#include "admin/admin_error.h"
#include "admin/admin_stores.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/date_text.h"
#include "admin/json_writer.h"
#include "admin/names.h"
#include "admin/release_file.h"
#include "admin/text_output.h"

namespace veltrane::admin {
namespace {

PressRelease ReadReleaseArgument(AdminContext& context, Arguments args, const char* command) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, command);
  RequirePositional(parsed, 1, "FILE", command);
  const std::string& path = parsed.positional[0];
  return ParseReleaseFile(ReadInputFile(context, path), path == "-" ? "standard input" : path);
}

}  // namespace

void RunReleaseAdd(AdminContext& context, Arguments args) {
  const PressRelease release = ReadReleaseArgument(context, args, "release add");
  if (!ReleasesOf(context)->Add(release))
    DataError("release " + Quoted(release.Name) + " exists already (use 'release update')");
  context.io.out << "added release " << Quoted(release.Name) << "\n";
}

void RunReleaseUpdate(AdminContext& context, Arguments args) {
  const PressRelease release = ReadReleaseArgument(context, args, "release update");
  if (!ReleasesOf(context)->Update(release))
    DataError("unknown release " + Quoted(release.Name) + " (use 'release add')");
  context.io.out << "updated release " << Quoted(release.Name) << "\n";
}

void RunReleaseList(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "release list", {"json"});
  RequirePositional(parsed, 0, "", "release list");
  const std::vector<ReleaseEntry> entries = ReleasesOf(context)->List();
  if (parsed.Flag("json")) {
    JsonWriter json(context.io.out);
    json.BeginObject();
    json.Key("releases").BeginArray();
    for (const ReleaseEntry& entry : entries) {
      json.BeginObject();
      json.Key("name").Text(entry.name);
      json.Key("releaseDate")
          .OptionalText(entry.releaseDate ? std::optional(FormatDate(*entry.releaseDate))
                                          : std::nullopt);
      json.Key("headline").Text(entry.headline);
      json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return;
  }
  std::vector<std::vector<std::string>> rows = {{"NAME", "RELEASE DATE", "HEADLINE"}};
  for (const ReleaseEntry& entry : entries)
    rows.push_back({entry.name, entry.releaseDate ? FormatDate(*entry.releaseDate) : "(day of run)",
                    entry.headline});
  PrintTable(context.io.out, std::move(rows));
}

void RunReleaseShow(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "release show");
  RequirePositional(parsed, 1, "NAME", "release show");
  const std::optional<PressRelease> release = ReleasesOf(context)->Find(parsed.positional[0], 0);
  if (!release) DataError("unknown release " + Quoted(parsed.positional[0]));
  context.io.out << FormatReleaseFile(*release);
}

}  // namespace veltrane::admin
