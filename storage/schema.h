// The tables of every store, written down once: the two SQLite files (vt.dat
// and subscription2.dat) and a PostgreSQL server, which holds the tables of
// both files in one schema with server types. The server's job table also
// records which service instance holds a job and until when (its lease, in
// the server's time). Columns marked added came after their table first
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

struct AddedColumn {
  const char* table;
  const char* name;
  std::string add;  // the statement that adds it to its table
};
// The journal's added columns (job, job_site), in their tables' order.
std::vector<AddedColumn> AddedJournalColumns(sql::Dialect dialect);

}  // namespace veltrane::schema
