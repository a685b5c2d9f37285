// The tables of every store, written down once: the two SQLite files (vt.dat
// and subscription2.dat) and a PostgreSQL server, which holds the tables of
// both files in one schema with server types. The server's job table also
// records which service instance holds a job, until when (its lease, in
// the server's time) and by which fencing token. Columns marked added came after their table first
// shipped: a database made before them gains them when the journal next
// writes there (and a server at init). Every statement is CREATE ... IF NOT
// EXISTS, so running a schema again changes nothing.
#pragma once

#include <string>
#include <vector>

#include "storage/sql_session.h"

namespace veltrane::schema {

// The statements that create a server's tables, and add the columns that
// came later to the tables of a server made before them.
const std::string& ServerSchema();

// A server's local time now as a day number, as schedule.next is kept (an
// SQL expression): the epoch of a time without zone counts its wall time as UTC.
inline constexpr const char* kServerLocalDay =
    "(extract(epoch FROM localtimestamp)::float8 / 86400 + 25569)";
// The server's zone, its offset from UTC now in seconds, and kServerLocalDay.
inline constexpr const char* kServerTimeQuery =
    "SELECT current_setting('TimeZone'), extract(timezone FROM now())::integer, "
    "(extract(epoch FROM localtimestamp)::float8 / 86400 + 25569)";

// The statement that creates the instance table where it is missing (a
// store made before it gains it at an instance's first write).
const std::string& InstanceTableSchema(sql::Dialect dialect);

// The statement that creates a server's job_site_claim table where it is
// missing (a server made before it gains it at an instance's first claim).
const std::string& SiteClaimTableSchema();

struct AddedColumn {
  const char* table;
  const char* name;
  std::string add;  // the statement that adds it to its table
};
// The journal's added columns (job, job_site), in their tables' order.
std::vector<AddedColumn> AddedJournalColumns(sql::Dialect dialect);
// The schedule table's added columns (disabled).
std::vector<AddedColumn> AddedScheduleColumns(sql::Dialect dialect);

}  // namespace veltrane::schema
