// copy: the two database files of a service folder, into a PostgreSQL server.
#include <ostream>

#include "admin/admin_error.h"
#include "admin/admin_stores.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "storage/postgres/pg_copy.h"

namespace veltrane::admin {
namespace {

// "copied 2 rows of job (1 already there; renumbered: 6 as 8)": the rows written.
void PrintCopied(std::ostream& out, const CopiedTable& table) {
  out << "copied " << table.rows << " rows of " << table.table;
  std::string notes;
  if (table.already) notes = std::to_string(table.already) + " already there";
  if (!table.renumbered.empty()) {
    notes += std::string(notes.empty() ? "" : "; ") + "renumbered:";
    const char* separator = " ";
    for (const auto& [file, server] : table.renumbered) {
      notes += separator + std::to_string(file) + " as " + std::to_string(server);
      separator = ", ";
    }
  }
  out << (notes.empty() ? "" : " (" + notes + ")") << "\n";
  for (const std::string& name : table.differing)
    out << "kept the server's " << table.table << " '" << name << "'; the folder's differs\n";
}

}  // namespace

void RunCopy(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {"to"}, "copy");
  const std::string& url = parsed.Required("to", "copy");
  if (parsed.positional.size() > 1)
    UsageError("copy: unexpected argument '" + parsed.positional[1] + "'");
  const std::string dir = parsed.positional.empty() ? context.dir : parsed.positional[0];
  const DatabasePaths files{dir + "/db/vt.dat", dir + "/db/subscription2.dat", ""};
  std::vector<CopiedTable> copied;
  try {
    copied = CopySqliteToPostgres(files, url);
  } catch (const StorageError& error) {
    throw CommandErrorOf(error);
  }
  for (const CopiedTable& table : copied) PrintCopied(context.io.out, table);
}

}  // namespace veltrane::admin
