#include "tools/postgres_server.h"

#include <glob.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace veltrane::bench {
namespace {

constexpr const char* kSuperuser = "veltrane";
constexpr const char* kPort = "5432";  // names the socket file only: no TCP listener

// The newest server version's programs (/usr/lib/postgresql/<n>/bin).
std::string ServerBinaries() {
  glob_t found{};
  std::vector<std::string> directories;
  if (glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0)
    for (size_t i = 0; i < found.gl_pathc; ++i)
      directories.push_back(std::filesystem::path(found.gl_pathv[i]).parent_path());
  globfree(&found);
  std::sort(directories.begin(), directories.end(), [](const auto& a, const auto& b) {
    return std::atoi(a.c_str() + 20) < std::atoi(b.c_str() + 20);
  });
  return directories.empty() ? std::string() : directories.back();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

PostgresServer::PostgresServer() {
  binaries_ = ServerBinaries();
  if (binaries_.empty()) {
    error_ = "no PostgreSQL server programs under /usr/lib/postgresql";
    return;
  }
  char pattern[] = "/tmp/vt-pg-XXXXXX";
  if (!mkdtemp(pattern)) {
    error_ = "cannot make a temporary folder";
    return;
  }
  directory_ = pattern;
  if (geteuid() == 0) {
    const passwd* account = getpwnam("postgres");
    if (!account || chown(directory_.c_str(), account->pw_uid, account->pw_gid) != 0) {
      error_ = "running as root, and the folder cannot be given to the postgres account";
      return;
    }
    asPostgresUser_ = true;
  }
  if (!Run("initdb", "-D " + directory_ + "/data -U " + kSuperuser +
                         " -A trust -E UTF8 --locale=C --no-sync")) {
    return;
  }
  Start();
}

PostgresServer::~PostgresServer() {
  if (running_) Run("pg_ctl", "-D " + directory_ + "/data -m immediate -w stop");
  if (!directory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

std::string PostgresServer::SocketPath() const { return directory_ + "/.s.PGSQL." + kPort; }

std::string PostgresServer::UrlThrough(int port, const std::string& database) {
  return std::string("postgresql://") + kSuperuser + "@127.0.0.1:" + std::to_string(port) + "/" +
         database + "?sslmode=disable";
}

std::string PostgresServer::Url(const std::string& database) const {
  return "postgresql:///" + database + "?host=" + directory_ + "&port=" + kPort +
         "&user=" + kSuperuser;
}

std::string PostgresServer::CreateDatabase(const std::string& name) {
  if (!Run("createdb",
           std::string("-h ") + directory_ + " -p " + kPort + " -U " + kSuperuser + " " + name))
    return "";
  return Url(name);
}

bool PostgresServer::Stop() {
  if (!running_) return true;
  running_ = !Run("pg_ctl", "-D " + directory_ + "/data -m fast -w stop");
  return !running_;
}

bool PostgresServer::Start() {
  if (running_) return true;
  // fsync off: a throw-away cluster need not survive the machine's crash.
  running_ = Run("pg_ctl", "-D " + directory_ + "/data -l " + directory_ +
                               "/server.log -w -t 60 -o \"-k " + directory_ + " -p " + kPort +
                               " -c listen_addresses='' -c fsync=off\" start");
  if (running_) error_.clear();
  return running_;
}

bool PostgresServer::Run(const std::string& program, const std::string& arguments) {
  const std::string output = directory_ + "/command.log";
  std::string command = binaries_ + "/" + program + " " + arguments;
  if (asPostgresUser_) command = "runuser -u postgres -- " + command;
  const int status = std::system((command + " >" + output + " 2>&1").c_str());
  if (status == 0) return true;
  error_ = command + " failed: " + ReadFile(output) + ReadFile(directory_ + "/server.log");
  return false;
}

}  // namespace veltrane::bench
