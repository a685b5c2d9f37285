#include "storage/statement_spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "storage/sqlite_core.h"

namespace veltrane {
namespace {

constexpr const char* kPrefix = "spooled-";
constexpr const char* kSuffix = ".sql";

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

void SyncDirectory(const std::string& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// A name that sorts in the order the statements were spooled.
std::string NewName() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  char name[96];
  std::snprintf(name, sizeof name, "%s%020lld-%06u-%d%s", kPrefix, static_cast<long long>(stamp),
                counter++ % 1000000, static_cast<int>(getpid()), kSuffix);
  return name;
}

std::vector<std::filesystem::path> SpooledFiles(const std::string& directory) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kPrefix, 0) == 0 && name.size() > 4 &&
        name.compare(name.size() - 4, 4, kSuffix) == 0)
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

std::string SpoolStatement(const std::string& directory, const std::string& sql) {
  const std::string name = NewName();
  const std::string path = directory + "/" + name;
  const std::string temporary = directory + "/." + name + ".part";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return {};
  const bool saved = WriteAll(fd, sql) && fsync(fd) == 0;
  close(fd);
  if (!saved || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return {};
  }
  SyncDirectory(directory);
  return path;
}

int RunSpooledStatements(const std::string& directory, const std::string& databasePath,
                         TraceSink& trace) {
  return RunSpooledStatements(
      directory,
      [&](const std::string& sql) {
        sqlite::Connection db(databasePath, sqlite::OpenMode::Create);
        db.Execute(sql.c_str());
      },
      trace);
}

int RunSpooledStatements(const std::string& directory,
                         const std::function<void(const std::string& sql)>& run, TraceSink& trace) {
  int ran = 0;
  for (const std::filesystem::path& file : SpooledFiles(directory)) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream sql;
    sql << in.rdbuf();
    try {
      run(sql.str());
    } catch (const StorageError& error) {
      trace.TraceLine("Kept statement " + file.string() + " not written yet : " + error.Message());
      return ran;
    }
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    trace.TraceLine("Kept statement " + file.string() + " written");
    ++ran;
  }
  return ran;
}

}  // namespace veltrane
