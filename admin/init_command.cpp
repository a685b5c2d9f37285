// init: creates the database files where missing. A new file is built under a
// temporary name and linked into place only when complete, so a file that
// appears meanwhile, or an interrupted run, never leaves a half-made database.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "admin/admin_error.h"
#include "admin/command_line.h"
#include "admin/commands.h"
#include "admin/sqlite_access.h"
#include "storage/database_files.h"

namespace veltrane::admin {
namespace {

struct DatabaseFile {
  std::string path;
  const char* schema;
  std::vector<const char*> tables;
  bool ownerOnly;  // holds passwords
};

// Removes the temporary file unless it was handed over.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& directory, const std::string& name) {
    path_ = directory + "/." + name + ".new-XXXXXX";
    const int fd = mkstemp(path_.data());
    if (fd < 0) Failure("cannot create a file in " + directory + ": " + std::strerror(errno));
    close(fd);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() { unlink(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

mode_t FileMode(bool ownerOnly) {
  if (ownerOnly) return 0600;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// True when created; false when another program created the file meanwhile.
bool CreateDatabase(const DatabaseFile& file, const std::string& directory) {
  const std::string name = std::filesystem::path(file.path).filename().string();
  TemporaryFile temporary(directory, name);
  chmod(temporary.Path().c_str(), FileMode(file.ownerOnly));
  {
    Database database = Database::OpenOrCreate(temporary.Path());
    database.Execute(file.schema);
  }
  if (link(temporary.Path().c_str(), file.path.c_str()) == 0) return true;
  if (errno == EEXIST) return false;
  // Some file systems have no hard links; fall back to a rename of the complete file.
  std::error_code error;
  if (std::filesystem::exists(file.path, error)) return false;
  if (rename(temporary.Path().c_str(), file.path.c_str()) != 0)
    Failure("cannot create " + file.path + ": " + std::strerror(errno));
  return true;
}

}  // namespace

void RunInit(AdminContext& context, Arguments args) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, "init");
  if (parsed.positional.size() > 1)
    UsageError("init: unexpected argument '" + parsed.positional[1] + "'");
  const std::string dir = parsed.positional.empty() ? context.dir : parsed.positional[0];
  if (dir.empty()) UsageError("init: DIR is empty");
  const std::string directory = dir + "/db";
  const DatabaseFile files[] = {
      {directory + "/vt.dat",
       MainDatabaseSchema(),
       {"schedule", "pressrelease", "account", "history"},
       true},
      {directory + "/subscription2.dat", SubscriptionDatabaseSchema(), {"subscription"}, false},
  };

  // Look at both files before changing anything, so a bad one stops the command early.
  bool exists[2] = {false, false};
  bool empty[2] = {false, false};
  for (int i = 0; i < 2; ++i) {
    std::error_code error;
    exists[i] = std::filesystem::exists(files[i].path, error);
    if (!exists[i]) continue;
    Database database = Database::OpenExisting(files[i].path, Database::Access::kReadOnly, {});
    empty[i] = database.IsEmpty();
  }

  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) Failure("cannot create " + directory + ": " + error.message());

  std::ostream& out = context.io.out;
  for (int i = 0; i < 2; ++i) {
    const DatabaseFile& file = files[i];
    if (!exists[i]) {
      out << (CreateDatabase(file, directory) ? "created " : "kept ") << file.path << "\n";
    } else if (empty[i]) {
      Database database = Database::OpenExisting(file.path, Database::Access::kReadWrite, {});
      Transaction transaction(database);
      if (!database.IsEmpty()) continue;  // filled by someone else since the look above
      database.Execute(file.schema);
      transaction.Commit();
      out << "added the tables to the empty " << file.path << "\n";
    } else {
      Database database = Database::OpenExisting(file.path, Database::Access::kReadOnly, {});
      out << "kept " << file.path << "\n";
      for (const char* table : file.tables)
        if (!database.HasTable(table))
          context.io.err << "veltrane-admin: warning: " << file.path << " has no table '" << table
                         << "'\n";
    }
  }
}

}  // namespace veltrane::admin
