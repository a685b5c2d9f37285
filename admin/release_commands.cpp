// release add, update, list and show over the pressrelease table of db/vt.dat.
#include <ostream>

#include "admin/admin_error.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/date_text.h"
#include "admin/names.h"
#include "admin/release_file.h"
#include "admin/sqlite_access.h"
#include "admin/text_output.h"

namespace veltrane::admin {
namespace {

constexpr const char* kFields =
    "contact_data,headline,summary,keyword,category,release_date,news_body,about_company,"
    "contact_detail,extra_data";

Database OpenReleases(const AdminContext& context, Database::Access access) {
  return Database::OpenExisting(context.MainPath(), access, {"pressrelease"});
}

bool ReleaseExists(Database& database, const std::string& name) {
  Statement query = database.Prepare("SELECT 1 FROM pressrelease WHERE name = ?");
  query.Bind(1, name);
  return query.Step();
}

// Binds the fields in kFields order, then the name as parameter 11.
void BindRelease(Statement& statement, const ReleaseRecord& record) {
  statement.Bind(1, ContactDataText(record))
      .Bind(2, record.headline)
      .Bind(3, record.summary)
      .Bind(4, KeywordText(record))
      .Bind(5, record.category);
  if (record.releaseDate)
    statement.BindInteger(6, *record.releaseDate);
  else
    statement.BindNull(6);
  statement.Bind(7, record.body)
      .Bind(8, record.about)
      .Bind(9, record.contact)
      .Bind(10, ExtraDataText(record))
      .Bind(11, record.name);
}

ReleaseRecord ReadReleaseArgument(AdminContext& context, Arguments args, const char* command) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, command);
  RequirePositional(parsed, 1, "FILE", command);
  const std::string& path = parsed.positional[0];
  return ParseReleaseFile(ReadInputFile(context, path), path == "-" ? "standard input" : path);
}

}  // namespace

void RunReleaseAdd(AdminContext& context, Arguments args) {
  const ReleaseRecord record = ReadReleaseArgument(context, args, "release add");
  Database database = OpenReleases(context, Database::Access::kReadWrite);
  Transaction transaction(database);
  if (ReleaseExists(database, record.name))
    DataError("release " + Quoted(record.name) + " exists already (use 'release update')");
  Statement insert = database.Prepare(std::string("INSERT INTO pressrelease (") + kFields +
                                      ",name) VALUES (?,?,?,?,?,?,?,?,?,?,?)");
  BindRelease(insert, record);
  insert.Run();
  transaction.Commit();
  context.io.out << "added release " << Quoted(record.name) << "\n";
}

void RunReleaseUpdate(AdminContext& context, Arguments args) {
  const ReleaseRecord record = ReadReleaseArgument(context, args, "release update");
  Database database = OpenReleases(context, Database::Access::kReadWrite);
  Transaction transaction(database);
  if (!ReleaseExists(database, record.name))
    DataError("unknown release " + Quoted(record.name) + " (use 'release add')");
  Statement update = database.Prepare(
      "UPDATE pressrelease SET contact_data = ?, headline = ?, summary = ?, keyword = ?, "
      "category = ?, release_date = ?, news_body = ?, about_company = ?, contact_detail = ?, "
      "extra_data = ? WHERE name = ?");
  BindRelease(update, record);
  update.Run();
  transaction.Commit();
  context.io.out << "updated release " << Quoted(record.name) << "\n";
}

void RunReleaseList(AdminContext& context, Arguments args) {
  RequirePositional(ParseCommandArgs(args, {}, "release list"), 0, "", "release list");
  Database database = OpenReleases(context, Database::Access::kReadOnly);
  Statement query =
      database.Prepare("SELECT name, release_date, headline FROM pressrelease ORDER BY name");
  std::vector<std::vector<std::string>> rows = {{"NAME", "RELEASE DATE", "HEADLINE"}};
  while (query.Step())
    rows.push_back(
        {query.Text(0),
         query.IsNull(1) ? "(day of run)" : FormatDate(static_cast<int>(query.Integer(1))),
         query.Text(2)});
  PrintTable(context.io.out, std::move(rows));
}

void RunReleaseShow(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "release show");
  RequirePositional(parsed, 1, "NAME", "release show");
  Database database = OpenReleases(context, Database::Access::kReadOnly);
  Statement query =
      database.Prepare(std::string("SELECT ") + kFields + " FROM pressrelease WHERE name = ?");
  query.Bind(1, parsed.positional[0]);
  if (!query.Step()) DataError("unknown release " + Quoted(parsed.positional[0]));
  ReleaseRecord record;
  record.name = parsed.positional[0];
  ReadListColumns(record, query.Text(0), query.Text(3), query.Text(9));
  record.headline = query.Text(1);
  record.summary = query.Text(2);
  record.category = query.Text(4);
  if (!query.IsNull(5)) record.releaseDate = static_cast<int>(query.Integer(5));
  record.body = query.Text(6);
  record.about = query.Text(7);
  record.contact = query.Text(8);
  context.io.out << FormatReleaseFile(record);
}

}  // namespace veltrane::admin
