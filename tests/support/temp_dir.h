// A temporary directory for one test, removed with everything in it when the
// object dies, also when an assertion failed.
#pragma once

#include <string>

namespace veltrane::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory's path, without a trailing "/".
  const std::string& Path() const { return path_; }
  std::string File(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Every byte of the file at `path`; empty when it cannot be read.
std::string FileBytes(const std::string& path);

}  // namespace veltrane::testing
