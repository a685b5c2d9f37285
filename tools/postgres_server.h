// PostgresServer: a throw-away PostgreSQL server for one test program or one
// benchmark run. It runs initdb into a temporary folder and starts the server
// with pg_ctl, listening on a Unix socket in that folder only (no TCP port at
// all), with trust authentication for its one superuser. The server refuses
// to run as root, so under root the folder belongs to the "postgres" account
// that Debian's package creates and the programs run as that account. Stop
// and Start restart the same cluster (for tests of a server going away); the
// destructor stops it at once and removes the folder.
#pragma once

#include <string>

namespace veltrane::bench {

class PostgresServer {
 public:
  PostgresServer();
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // Empty when the server runs; otherwise why it could not be started.
  const std::string& Error() const { return error_; }
  bool Running() const { return running_; }

  // A libpq connection string for `database` on this server.
  std::string Url(const std::string& database = "postgres") const;
  // The server's Unix socket, for a relay in front of it (TcpProxy).
  std::string SocketPath() const;
  // A connection string for `database` through a relay on 127.0.0.1:`port`.
  static std::string UrlThrough(int port, const std::string& database);
  // Creates a new, empty database and returns its connection string.
  std::string CreateDatabase(const std::string& name);

  bool Stop();
  bool Start();

 private:
  bool Run(const std::string& program, const std::string& arguments);

  std::string directory_;
  std::string binaries_;
  bool asPostgresUser_ = false;
  bool running_ = false;
  std::string error_;
};

}  // namespace veltrane::bench
