// WriteLock: an exclusive lock on a database file, held through a connection
// of its own until released (now or after a delay, from another thread) or
// destroyed. For tests of what waits on a locked database.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <string>
#include <thread>

namespace veltrane::testing {

class WriteLock {
 public:
  explicit WriteLock(const std::string& path) {
    sqlite3_open(path.c_str(), &connection_);
    locked_ = sqlite3_exec(connection_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~WriteLock() {
    if (releaser_.joinable()) releaser_.join();
    sqlite3_close(connection_);
  }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

  bool Locked() const { return locked_; }
  void Release() { sqlite3_exec(connection_, "COMMIT", nullptr, nullptr, nullptr); }
  void ReleaseAfter(std::chrono::milliseconds delay) {
    releaser_ = std::thread([this, delay] {
      std::this_thread::sleep_for(delay);
      Release();
    });
  }

 private:
  sqlite3* connection_ = nullptr;
  bool locked_ = false;
  std::thread releaser_;
};

}  // namespace veltrane::testing
