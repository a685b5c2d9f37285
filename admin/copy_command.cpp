// copy: the two database files of a service folder, into a PostgreSQL server.
#include <ostream>

#include "admin/admin_error.h"
#include "admin/admin_stores.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "storage/postgres/pg_copy.h"

namespace veltrane::admin {

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
  for (const CopiedTable& table : copied)
    context.io.out << "copied " << table.rows << " rows of " << table.table << "\n";
}

}  // namespace veltrane::admin
