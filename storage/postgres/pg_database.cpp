#include "storage/postgres/pg_database.h"

#include <poll.h>

#include <cerrno>
#include <cstdlib>

namespace veltrane {
namespace {

using Clock = std::chrono::steady_clock;

std::string WithoutLineEnd(std::string message) {
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  return message;
}

std::string ErrorOf(PGconn* connection) { return WithoutLineEnd(PQerrorMessage(connection)); }

// Opens a connection with the bounds of PgBounds. They come before the
// configured connection string, so that one it sets itself wins.
PGconn* ConnectBounded(const std::string& url) {
  const std::string connect = std::to_string(PgBounds::kConnectSeconds);
  const std::string idle = std::to_string(PgBounds::kKeepaliveIdleSeconds);
  const std::string interval = std::to_string(PgBounds::kKeepaliveIntervalSeconds);
  const std::string count = std::to_string(PgBounds::kKeepaliveCount);
  const std::string userTimeout = std::to_string(PgBounds::kTcpUserTimeoutMs);
  const std::string options =
      "-c statement_timeout=" + std::to_string(PgBounds::kStatementSeconds * 1000) +
      " -c idle_in_transaction_session_timeout=" +
      std::to_string(PgBounds::kIdleInTransactionSeconds * 1000);
  const char* const keys[] = {"connect_timeout",
                              "keepalives",
                              "keepalives_idle",
                              "keepalives_interval",
                              "keepalives_count",
                              "tcp_user_timeout",
                              "options",
                              "dbname",
                              nullptr};
  const char* const values[] = {connect.c_str(),  "1",           idle.c_str(),
                                interval.c_str(), count.c_str(), userTimeout.c_str(),
                                options.c_str(),  url.c_str(),   nullptr};
  return PQconnectdbParams(keys, values, 1);
}

bool Succeeded(const PGresult* result) {
  const ExecStatusType status = PQresultStatus(result);
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
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

PgDatabase::PgDatabase(const std::string& url) : connection_(ConnectBounded(url)) {
  if (!connection_) throw PgError("out of memory for a database connection", "");
  if (PQstatus(connection_.get()) != CONNECTION_OK) throw PgError(ErrorOf(connection_.get()), "");
  // Notices ("already exists, skipping") would go to standard error, into the trace.
  PQsetNoticeProcessor(
      connection_.get(), [](void*, const char*) {}, nullptr);
  // Sending never blocks either: Answer waits for the socket within its bound.
  PQsetnonblocking(connection_.get(), 1);
}

PgResult PgDatabase::Execute(std::string_view sql, const std::vector<PgParam>& params) {
  if (!connection_) Abandon("the connection was closed after the server did not answer");
  std::vector<const char*> values;
  std::vector<int> lengths;
  for (const PgParam& param : params) {
    values.push_back(param ? param->data() : nullptr);
    lengths.push_back(param ? static_cast<int>(param->size()) : 0);
  }
  if (!PQsendQueryParams(connection_.get(), std::string(sql).c_str(),
                         static_cast<int>(params.size()), nullptr, values.data(), lengths.data(),
                         nullptr, 0))
    throw PgError(ErrorOf(connection_.get()), "");
  return Checked(Answer());
}

void PgDatabase::ExecuteScript(const std::string& sql) {
  if (!connection_) Abandon("the connection was closed after the server did not answer");
  if (!PQsendQuery(connection_.get(), sql.c_str())) throw PgError(ErrorOf(connection_.get()), "");
  Checked(Answer());
}

PgResult PgDatabase::Answer() {
  PGconn* connection = connection_.get();
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(PgBounds::kAnswerSeconds);
  const std::string late =
      "no answer from the server within " + std::to_string(PgBounds::kAnswerSeconds) + " s";
  for (int pending; (pending = PQflush(connection)) != 0;) {
    if (pending < 0) throw PgError(ErrorOf(connection), "");
    if (!WaitForSocket(POLLIN | POLLOUT, deadline)) Abandon(late);
    // The server may answer before it has read everything (an early error).
    if (!PQconsumeInput(connection)) throw PgError(ErrorOf(connection), "");
  }
  PgResult answer(nullptr);
  for (;;) {
    while (PQisBusy(connection)) {
      if (!WaitForSocket(POLLIN, deadline)) Abandon(late);
      if (!PQconsumeInput(connection)) throw PgError(ErrorOf(connection), "");
    }
    PGresult* next = PQgetResult(connection);
    if (!next) return answer;
    // Later statements of a script do not run after an error: it is the answer.
    if (!answer.result_ || Succeeded(answer.result_.get()))
      answer = PgResult(next);
    else
      PQclear(next);
  }
}

bool PgDatabase::WaitForSocket(short events, Clock::time_point deadline) {
  pollfd socket{PQsocket(connection_.get()), events, 0};
  // No socket: PQconsumeInput says why.
  if (socket.fd < 0) return true;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    const int ready = poll(&socket, 1, static_cast<int>(left));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return true;
  }
}

void PgDatabase::Abandon(const std::string& why) {
  connection_.reset();
  throw PgError(why, "");
}

PgResult PgDatabase::Checked(PgResult result) {
  if (Succeeded(result.result_.get())) return result;
  const char* state =
      result.result_ ? PQresultErrorField(result.result_.get(), PG_DIAG_SQLSTATE) : nullptr;
  const std::string message =
      result.result_ ? WithoutLineEnd(PQresultErrorMessage(result.result_.get())) : "";
  throw PgError(message.empty() ? ErrorOf(connection_.get()) : message, state ? state : "");
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
