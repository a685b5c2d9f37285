#include "storage/postgres/pg_database.h"

#include <cstdlib>

namespace veltrane {
namespace {

std::string ErrorOf(PGconn* connection) {
  std::string message = PQerrorMessage(connection);
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  return message;
}

}  // namespace

std::string PgResult::Text(int row, int column) const {
  return std::string(PQgetvalue(result_.get(), row, column),
                     PQgetlength(result_.get(), row, column));
}

long long PgResult::Integer(int row, int column) const {
  return std::strtoll(PQgetvalue(result_.get(), row, column), nullptr, 10);
}

double PgResult::Real(int row, int column) const {
  // The server writes numbers with a point whatever the client's locale.
  return std::strtod(PQgetvalue(result_.get(), row, column), nullptr);
}

int PgResult::Changes() const { return std::atoi(PQcmdTuples(result_.get())); }

PgDatabase::PgDatabase(const std::string& url) : connection_(PQconnectdb(url.c_str())) {
  if (!connection_) throw PgError("out of memory for a database connection", "");
  if (PQstatus(connection_.get()) != CONNECTION_OK) throw PgError(ErrorOf(connection_.get()), "");
  // Notices ("already exists, skipping") would go to standard error, into the trace.
  PQsetNoticeProcessor(
      connection_.get(), [](void*, const char*) {}, nullptr);
}

PgResult PgDatabase::Execute(std::string_view sql, const std::vector<PgParam>& params) {
  std::vector<const char*> values;
  std::vector<int> lengths;
  for (const PgParam& param : params) {
    values.push_back(param ? param->data() : nullptr);
    lengths.push_back(param ? static_cast<int>(param->size()) : 0);
  }
  return Checked(PgResult(PQexecParams(connection_.get(), std::string(sql).c_str(),
                                       static_cast<int>(params.size()), nullptr, values.data(),
                                       lengths.data(), nullptr, 0)));
}

void PgDatabase::ExecuteScript(const std::string& sql) {
  Checked(PgResult(PQexec(connection_.get(), sql.c_str())));
}

PgResult PgDatabase::Checked(PgResult result) {
  const ExecStatusType status = PQresultStatus(result.result_.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return result;
  const char* state =
      result.result_ ? PQresultErrorField(result.result_.get(), PG_DIAG_SQLSTATE) : nullptr;
  throw PgError(ErrorOf(connection_.get()), state ? state : "");
}

PgTransaction::PgTransaction(PgDatabase& database) : database_(database) {
  database_.Execute("BEGIN");
}

PgTransaction::~PgTransaction() {
  if (!open_) return;
  try {
    database_.Execute("ROLLBACK");
  } catch (const PgError&) {
    // The connection is gone; the server rolls the transaction back itself.
  }
}

void PgTransaction::Commit() {
  database_.Execute("COMMIT");
  open_ = false;
}

}  // namespace veltrane
