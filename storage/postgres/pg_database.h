// A PostgreSQL server as a store: an owning libpq connection, query results,
// and a transaction that rolls back unless committed. Statements take their
// parameters as text, bound apart from the SQL (never spliced into it); a
// parameter without a value is SQL NULL. Every failure throws PgError with
// the server's SQLSTATE (empty when the connection itself failed or broke).
// One thread per connection.
#pragma once

#include <libpq-fe.h>

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
