// A PostgreSQL server as a store: an owning libpq connection, query results,
// and a transaction that rolls back unless committed. Statements take their
// parameters as text, bound apart from the SQL (never spliced into it); a
// parameter without a value is SQL NULL. Every failure throws PgError with
// the server's SQLSTATE (empty when the connection itself failed or broke).
// No call waits on the server without a bound (see PgBounds): a server that
// accepts and then says nothing is a PgError after at most kConnectSeconds to
// connect, or kAnswerSeconds for one statement's answer; a connection that ran
// out of time is closed, and every later statement on it fails at once.
// One thread per connection.
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

class PgError : public std::runtime_error {
 public:
  PgError(const std::string& message, std::string sqlState)
      : std::runtime_error(message), sqlState_(std::move(sqlState)) {}
  const std::string& SqlState() const { return sqlState_; }
  // The connection broke or could not be made: the server is unreachable,
  // and trying again later may succeed.
  bool Unreachable() const { return sqlState_.empty() || sqlState_.starts_with("08"); }

 private:
  std::string sqlState_;
};

using PgParam = std::optional<std::string>;

// The bounds of every connection to the server. A connection string may set
// connect_timeout, the keepalives or options itself; the client's own wait for
// an answer (kAnswerSeconds) holds whatever it sets.
struct PgBounds {
  // From opening the socket to a usable session (libpq's connect_timeout).
  static constexpr int kConnectSeconds = 5;
  // The server cancels a statement that runs longer (statement_timeout): a lock
  // held by a stuck client, say.
  static constexpr int kStatementSeconds = 5;
  // The client gives up waiting for a statement's answer after this long: a
  // server behind a frozen link never sends one. Longer than the statement
  // timeout, so that the server's own cancellation is seen when it comes.
  static constexpr int kAnswerSeconds = kStatementSeconds + 2;
  // The server ends a session left idle inside a transaction this long (a
  // client that gave up waiting), so its row locks do not outlive it.
  static constexpr int kIdleInTransactionSeconds = 10;
  // TCP keepalives: the first probe after this much silence, then one every
  // kKeepaliveIntervalSeconds, and the connection is dead after
  // kKeepaliveCount unanswered ones; unacknowledged data gives up after
  // kTcpUserTimeoutMs. (Unix sockets have neither.)
  static constexpr int kKeepaliveIdleSeconds = 5;
  static constexpr int kKeepaliveIntervalSeconds = 2;
  static constexpr int kKeepaliveCount = 3;
  static constexpr int kTcpUserTimeoutMs = 10000;
};

class PgResult {
 public:
  int Rows() const { return PQntuples(result_.get()); }
  int Columns() const { return PQnfields(result_.get()); }
  std::string ColumnName(int column) const { return PQfname(result_.get(), column); }
  // The column's index by name; -1 when the result has no such column.
  int Column(const char* name) const { return PQfnumber(result_.get(), name); }
  bool IsNull(int row, int column) const { return PQgetisnull(result_.get(), row, column); }
  // "" for NULL.
  std::string Text(int row, int column) const;
  long long Integer(int row, int column) const;
  double Real(int row, int column) const;
  // Rows changed by an INSERT, UPDATE or DELETE.
  int Changes() const;
  // The command tag: "COMMIT", or "ROLLBACK" for a COMMIT of a failed transaction.
  std::string Command() const { return PQcmdStatus(result_.get()); }

 private:
  friend class PgDatabase;
  struct Clear {
    void operator()(PGresult* result) const { PQclear(result); }
  };
  explicit PgResult(PGresult* result) : result_(result) {}
  std::unique_ptr<PGresult, Clear> result_;
};

class PgDatabase {
 public:
  // Connects at once; `url` is a libpq connection string or URI.
  explicit PgDatabase(const std::string& url);

  PgResult Execute(std::string_view sql, const std::vector<PgParam>& params = {});
  // Several statements without parameters (schema texts).
  void ExecuteScript(const std::string& sql);
  // True inside a transaction that has not failed.
  bool InTransaction() const { return PQtransactionStatus(connection_.get()) == PQTRANS_INTRANS; }

 private:
  // Waits, within kAnswerSeconds, for the answer to what was just sent: the
  // first error among its results, or else the last result.
  PgResult Answer();
  // Waits until the socket is ready (`events` of poll) or `deadline` passes.
  bool WaitForSocket(short events, std::chrono::steady_clock::time_point deadline);
  // Closes the connection and throws: nothing more goes over it.
  [[noreturn]] void Abandon(const std::string& why);
  PgResult Checked(PgResult result);

  struct Finish {
    void operator()(PGconn* connection) const { PQfinish(connection); }
  };
  std::unique_ptr<PGconn, Finish> connection_;
};

// BEGIN at construction; ROLLBACK at destruction unless Commit ran. A
// rollback on a broken connection is left alone.
class PgTransaction {
 public:
  explicit PgTransaction(PgDatabase& database);
  PgTransaction(const PgTransaction&) = delete;
  PgTransaction& operator=(const PgTransaction&) = delete;
  ~PgTransaction();
  void Commit();

 private:
  PgDatabase& database_;
  bool open_ = true;
};

}  // namespace veltrane
