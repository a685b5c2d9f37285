// init: creates the database files where missing. A new file is built under a
// temporary name and linked into place only when complete, so a file that
// appears meanwhile, or an interrupted run, never leaves a half-made database.
// Database files hold passwords: new ones are 0600, and an existing one that
// group or others may read or write loses those bits. init often runs as
// root: a symbolic link in place of a database file is refused, never
// followed, and modes are changed on the opened file itself.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "admin/admin_error.h"
#include "admin/admin_stores.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "platform/private_files.h"
#include "storage/database_files.h"
#include "storage/database_setup.h"
#include "storage/postgres/database_url.h"
#include "storage/postgres/pg_stores.h"

namespace veltrane::admin {
namespace {

// The service polls the same file once a minute; wait for it rather than fail.
constexpr int kBusyWaitMs = 10000;

struct FileToInit {
  std::string path;
  DatabaseFile kind;
};

// Removes the temporary file unless it was handed over.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& directory, const std::string& name) {
    path_ = directory + "/." + name + ".new-XXXXXX";
    const int fd = mkstemp(path_.data());
    if (fd < 0) Failure("cannot create a file in " + directory + ": " + std::strerror(errno));
    // mkstemp makes the file 0600 already; say so rather than rely on it.
    fchmod(fd, kDatabaseFileMode);
    close(fd);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() { unlink(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A file the service's first start left under the umask (0644), or one copied
// in from elsewhere, would show the passwords to every local user: keep only
// its owner's bits.
void Tighten(const std::string& path, std::ostream& out) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ELOOP) Failure(SymbolicLinkRefusal(path));
  if (fd < 0) return;
  struct stat status {};
  if (fstat(fd, &status) != 0 || (status.st_mode & 077) == 0) {
    close(fd);
    return;
  }
  const mode_t mode = status.st_mode & 0700;
  char octal[8];
  std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode));
  const bool changed = fchmod(fd, mode) == 0;
  const int error = errno;
  close(fd);
  if (!changed)
    Failure("cannot tighten " + path + " to mode " + octal + ": " + std::strerror(error));
  out << "tightened " << path << " to mode " << octal << "\n";
}

// True when created; false when another program created the file meanwhile.
bool CreateDatabase(const FileToInit& file, const std::string& directory) {
  const std::string name = std::filesystem::path(file.path).filename().string();
  TemporaryFile temporary(directory, name);
  CreateTables(temporary.Path(), file.kind, kBusyWaitMs);
  if (link(temporary.Path().c_str(), file.path.c_str()) == 0) return true;
  if (errno == EEXIST) return false;
  // Some file systems have no hard links; fall back to a rename of the complete file.
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::symlink_status(file.path, error))) return false;
  if (rename(temporary.Path().c_str(), file.path.c_str()) != 0)
    Failure("cannot create " + file.path + ": " + std::strerror(errno));
  return true;
}

// On a server the tables are created where missing; db/ still keeps the
// history rows that could not reach the server.
void InitServer(const std::string& server, const std::string& directory, std::ostream& out) {
  std::error_code error;
  if (!MakePrivateDirectories(directory, error))
    Failure("cannot create " + directory + ": " + error.message());
  try {
    CreatePgSchema(server);
  } catch (const StorageError& failure) {
    throw CommandErrorOf(failure);
  }
  out << "created the missing tables on the PostgreSQL server\n";
}

}  // namespace

void RunInit(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "init");
  if (parsed.positional.size() > 1)
    UsageError("init: unexpected argument '" + parsed.positional[1] + "'");
  const std::string dir = parsed.positional.empty() ? context.dir : parsed.positional[0];
  if (dir.empty()) UsageError("init: DIR is empty");
  const std::string directory = dir + "/db";
  if (const std::string server = ConfiguredDatabaseUrlIn(dir); !server.empty()) {
    InitServer(server, directory, context.io.out);
    return;
  }
  const FileToInit files[] = {
      {directory + "/vt.dat", DatabaseFile::Main},
      {directory + "/subscription2.dat", DatabaseFile::Subscription},
  };

  // Look at both files before changing anything, so a bad one stops the command early.
  bool exists[2] = {false, false};
  bool empty[2] = {false, false};
  for (int i = 0; i < 2; ++i) {
    if (IsSymbolicLink(files[i].path)) Failure(SymbolicLinkRefusal(files[i].path));
    std::error_code error;
    exists[i] = std::filesystem::exists(files[i].path, error);
    if (!exists[i]) continue;
    empty[i] = IsEmptyDatabase(files[i].path, kBusyWaitMs);
    // Only the owner may tighten the mode; refuse before anything is changed.
    struct stat status {};
    if (lstat(files[i].path.c_str(), &status) == 0 && (status.st_mode & 077) != 0 &&
        geteuid() != 0 && status.st_uid != geteuid())
      Failure("cannot tighten " + files[i].path +
              " to mode 0600: it belongs to another user, who can run 'chmod 600' on it");
  }

  std::error_code error;
  if (!MakePrivateDirectories(directory, error))
    Failure("cannot create " + directory + ": " + error.message());

  std::ostream& out = context.io.out;
  for (int i = 0; i < 2; ++i) {
    const FileToInit& file = files[i];
    if (!exists[i]) {
      out << (CreateDatabase(file, directory) ? "created " : "kept ") << file.path << "\n";
    } else if (empty[i]) {
      // Another program may have filled it since the look above; then it stays as it is.
      if (AddTablesIfEmpty(file.path, file.kind, kBusyWaitMs))
        out << "added the tables to the empty " << file.path << "\n";
    } else {
      const std::vector<std::string> missing = MissingTables(file.path, file.kind, kBusyWaitMs);
      out << "kept " << file.path << "\n";
      for (const std::string& table : missing)
        context.io.err << "veltrane-admin: warning: " << file.path << " has no table '" << table
                       << "'\n";
    }
    Tighten(file.path, out);
  }
}

}  // namespace veltrane::admin
