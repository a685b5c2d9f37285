#include "storage/schema.h"

#include "storage/database_files.h"

namespace veltrane::schema {
namespace {

using sql::Dialect;

enum class Type {
  Id,         // the table's key, numbered by the database
  Integer,    // a whole number
  Reference,  // the id of another table's row
  Real,       // a day number with its fraction
  Text,
  ServerTime,  // a point in the server's time
};

struct Column {
  const char* name;
  Type type;
  bool key = false;         // the table's one-column key
  bool added = false;       // came after the table first shipped
  bool serverOnly = false;  // a column of the shared store alone
};

struct Table {
  const char* name;
  std::vector<Column> columns = {};
  const char* key = nullptr;  // a key of several columns
  // Indexes, as "<name> ON <table>(<columns>)"; the server's may have a condition.
  std::vector<const char*> indexes = {};
  std::vector<const char*> serverIndexes = {};
};

// The sites and their step scripts: db/subscription2.dat.
const Table kSubscription{"subscription",
                          {{"name", Type::Text, true},
                           {"url", Type::Text},
                           {"submission_data", Type::Text},
                           {"extra_data", Type::Text}}};

// db/vt.dat. The service reads and writes these columns only; further
// columns do no harm, since whole rows are read with SELECT *.
const Table kMain[] = {
    {"schedule",
     {{"id", Type::Id},
      {"name", Type::Text},
      {"subscription", Type::Text},
      {"frequency", Type::Integer},
      {"start_date", Type::Integer},
      {"end_date", Type::Integer},
      {"time", Type::Real},
      {"next", Type::Real},
      // 1: kept with its timing but not run until enabled again; NULL or 0: run.
      {"disabled", Type::Integer, false, true}},
     nullptr,
     {"schedule_next ON schedule(next)"}},
    {"pressrelease",
     {{"name", Type::Text, true},
      {"contact_data", Type::Text},
      {"headline", Type::Text},
      {"summary", Type::Text},
      {"keyword", Type::Text},
      {"category", Type::Text},
      {"release_date", Type::Integer},
      {"news_body", Type::Text},
      {"about_company", Type::Text},
      {"contact_detail", Type::Text},
      {"extra_data", Type::Text}}},
    {"account", {{"name", Type::Text, true}, {"username", Type::Text}, {"password", Type::Text}}},
    {"history",
     {{"id", Type::Id},
      {"name", Type::Text},
      {"time", Type::Text},
      {"status", Type::Text},
      {"content", Type::Text},
      {"subscription", Type::Text}}},
};

// The job journal, in db/vt.dat: every job and every site's outcome as it
// ends, so that a job cut short (a crash, a kill, a power cut) is finished
// after the next start instead of being lost, and what each site showed, so
// that a person can judge a site without running it again. A trial that sent
// its release is a job marked trial, finished when written, without history.
const Table kJournal[] = {
    {"job",
     {{"id", Type::Id},
      {"schedule_id", Type::Reference},
      {"name", Type::Text},          // the press release, once the job has started
      {"subscription", Type::Text},  // the job's site list as it started, one name per line
      {"queued", Type::Real},        // when the schedule thread took the schedule
      {"started", Type::Real},       // NULL while the job waits in the queue
      {"finished", Type::Real},      // NULL until the job's history row is written
      {"history_id", Type::Reference, false, true},  // that history row's id
      {"holder", Type::Text, false, false, true},    // the instance that holds the job
      {"lease_until", Type::ServerTime, false, false, true},
      // Grows with every change of holder; a write names the token it holds the job by.
      {"token", Type::Integer, false, true, true},
      {"trial", Type::Integer, false, true},  // 1: a run of 'site try --submit'
      // The site whose release form is being sent: its place in the site
      // list, the page it is sent from, and when. Set before the form goes,
      // cleared by the site's end; a job resumed with it set does not send
      // that site again. NULL while no release form is in flight.
      {"submitting_position", Type::Integer, false, true},
      {"submitting_url", Type::Text, false, true},
      {"submitting_since", Type::Real, false, true},
      // 1 once the job was cut short while it ran (its instance stopped, or
      // left it in an outage): a fact its report keeps, whoever finishes it.
      {"interrupted", Type::Integer, false, true}},
     nullptr,
     {},
     {"job_unfinished ON job(lease_until) WHERE finished IS NULL"}},
    {"job_site",
     {{"job_id", Type::Reference},
      {"schedule_id", Type::Reference},
      {"position", Type::Integer},  // the site's place in the job's site list, from 0
      {"site", Type::Text},
      {"status", Type::Text},  // 'Completed' or 'Failed'
      {"reason", Type::Text},
      {"started", Type::Real},
      {"ended", Type::Real},
      {"last_url", Type::Text},                     // the last page the site was on
      {"last_status", Type::Integer, false, true},  // its HTTP status; 0 when unknown
      {"success_text", Type::Text, false, true},    // of the step the site ended on
      {"pages", Type::Integer, false, true},        // top-level pages completed
      {"screenshot", Type::Text, false, true},      // the failed page's picture in shots/
      {"notes", Type::Text, false, true},           // "form changed: missing <names>"
      {"network_error", Type::Text, false, true},   // why the last page did not load
      // While the record says the outcome is unknown because the release was
      // about to be sent: the instance that wrote it ('' on the files), the
      // one that may still replace it with the site's real end. NULL once
      // the record is the site's end.
      {"in_doubt", Type::Text, false, true}},
     "job_id, position"},
};

// On a shared server, who runs each site of a running job: an instance that
// helps another's job claims its sites one at a time, and the job's own
// instance claims each of its sites the same way, so that no site runs on two
// instances. A claim holds until its lease ends (renewed with the job's) or
// the site's end is recorded (ended = 1); a claim whose lease ran out before
// its site ended may be taken again, with a greater token. The rows of a job
// go when the job finishes.
const Table kSiteClaim{"job_site_claim",
                       {{"job_id", Type::Reference},
                        {"position", Type::Integer},
                        {"holder", Type::Text},
                        {"token", Type::Integer},
                        {"lease_until", Type::ServerTime},
                        {"ended", Type::Integer}},
                       "job_id, position"};

// What each running service instance publishes about itself, one row per
// process, refreshed at each poll and each site (storage/instance_status.h).
// Times are day numbers in the store's time base; a row not refreshed within
// stale_after days of `refreshed` belongs to an instance that stopped.
const Table kInstance{"instance",
                      {{"instance", Type::Text, true},  // "<host>:<pid>:<start ms>"
                       {"host", Type::Text},
                       {"pid", Type::Integer},
                       {"version", Type::Text},
                       {"started", Type::Real},
                       {"refreshed", Type::Real},
                       {"stale_after", Type::Real},
                       {"last_poll", Type::Real},        // NULL before the first poll
                       {"last_poll_error", Type::Text},  // '' when it succeeded
                       {"job_schedule", Type::Integer},  // NULL while no job runs
                       {"job_release", Type::Text},
                       {"job_site_number", Type::Integer},  // from 1; 0 before the first site
                       {"job_site_count", Type::Integer},
                       {"job_site", Type::Text},
                       {"job_site_since", Type::Real},
                       {"queued", Type::Text},  // schedule ids, comma-separated
                       {"spool_backlog", Type::Integer},
                       {"last_error", Type::Text},
                       {"last_error_at", Type::Real}}};

const char* TypeName(Dialect dialect, Type type) {
  const bool file = dialect == Dialect::Sqlite;
  switch (type) {
    case Type::Id:
      return file ? "INTEGER PRIMARY KEY" : "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY";
    case Type::Integer: return "INTEGER";
    case Type::Reference: return file ? "INTEGER" : "BIGINT";
    case Type::Real: return file ? "REAL" : "DOUBLE PRECISION";
    case Type::Text: return "TEXT";
    case Type::ServerTime: return "TIMESTAMPTZ";
  }
  return "";
}

std::string Create(Dialect dialect, const Table& table) {
  const bool server = dialect == Dialect::Postgres;
  std::string sql = std::string("CREATE TABLE IF NOT EXISTS ") + table.name + " (";
  const char* separator = "\n  ";
  for (const Column& column : table.columns) {
    if (column.serverOnly && !server) continue;
    sql += separator + std::string(column.name) + " " + TypeName(dialect, column.type) +
           (column.key ? " PRIMARY KEY" : "");
    separator = ",\n  ";
  }
  if (table.key) sql += separator + std::string("PRIMARY KEY (") + table.key + ")";
  sql += "\n);\n";
  for (const char* index : table.indexes)
    sql += std::string("CREATE INDEX IF NOT EXISTS ") + index + ";\n";
  if (server)
    for (const char* index : table.serverIndexes)
      sql += std::string("CREATE INDEX IF NOT EXISTS ") + index + ";\n";
  return sql;
}

template <typename Tables>
std::string CreateAll(Dialect dialect, const Tables& tables) {
  std::string sql;
  for (const Table& table : tables) sql += Create(dialect, table);
  return sql;
}

}  // namespace

const std::string& ServerSchema() {
  static const std::string schema = [] {
    std::string sql = CreateAll(Dialect::Postgres, kMain) +
                      Create(Dialect::Postgres, kSubscription) +
                      CreateAll(Dialect::Postgres, kJournal) +
                      Create(Dialect::Postgres, kInstance) + Create(Dialect::Postgres, kSiteClaim);
    for (const AddedColumn& column : AddedScheduleColumns(Dialect::Postgres))
      sql += column.add + ";\n";
    for (const AddedColumn& column : AddedJournalColumns(Dialect::Postgres))
      sql += column.add + ";\n";
    return sql;
  }();
  return schema;
}

const std::string& InstanceTableSchema(Dialect dialect) {
  static const std::string file = Create(Dialect::Sqlite, kInstance);
  static const std::string server = Create(Dialect::Postgres, kInstance);
  return dialect == Dialect::Sqlite ? file : server;
}

const std::string& SiteClaimTableSchema() {
  static const std::string server = Create(Dialect::Postgres, kSiteClaim);
  return server;
}

namespace {

void AddColumnsOf(const Table& table, Dialect dialect, std::vector<AddedColumn>& added) {
  for (const Column& column : table.columns)
    if (column.added && (dialect == Dialect::Postgres || !column.serverOnly))
      // A server's instances may add a column at once: the second must not fail.
      added.push_back(
          {table.name, column.name,
           std::string("ALTER TABLE ") + table.name +
               (dialect == Dialect::Postgres ? " ADD COLUMN IF NOT EXISTS " : " ADD COLUMN ") +
               column.name + " " + TypeName(dialect, column.type)});
}

}  // namespace

std::vector<AddedColumn> AddedJournalColumns(Dialect dialect) {
  std::vector<AddedColumn> added;
  for (const Table& table : kJournal) AddColumnsOf(table, dialect, added);
  return added;
}

std::vector<AddedColumn> AddedScheduleColumns(Dialect dialect) {
  std::vector<AddedColumn> added;
  for (const Table& table : kMain)
    if (std::string_view(table.name) == "schedule") AddColumnsOf(table, dialect, added);
  return added;
}

}  // namespace veltrane::schema

namespace veltrane {

const char* MainDatabaseSchema() {
  static const std::string schema = schema::CreateAll(sql::Dialect::Sqlite, schema::kMain) +
                                    schema::CreateAll(sql::Dialect::Sqlite, schema::kJournal) +
                                    schema::Create(sql::Dialect::Sqlite, schema::kInstance);
  return schema.c_str();
}

const char* JobJournalSchema() {
  static const std::string schema = schema::CreateAll(sql::Dialect::Sqlite, schema::kJournal);
  return schema.c_str();
}

const char* SubscriptionDatabaseSchema() {
  static const std::string schema = schema::Create(sql::Dialect::Sqlite, schema::kSubscription);
  return schema.c_str();
}

}  // namespace veltrane
