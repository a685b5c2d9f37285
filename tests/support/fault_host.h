// What the fault suite needs of the machine around the service:
// - FullFilesystem: a small tmpfs over a directory, its files copied in and the
//   rest of its room taken by a filler, in a mount namespace of the calling
//   thread (its children inherit it; the rest of the machine never sees it).
//   Needs the right to unshare and mount (root); Error() says why not.
// - ShowsWindow: whether a process has a top-level X window of a title, on the
//   test's $DISPLAY.
#pragma once

#include <sys/types.h>

#include <string>

namespace veltrane::testing {

class FullFilesystem {
 public:
  explicit FullFilesystem(const std::string& directory);
  ~FullFilesystem();  // unmounts: the directory shows its own files again
  FullFilesystem(const FullFilesystem&) = delete;
  FullFilesystem& operator=(const FullFilesystem&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Error() const { return error_; }
  // Deletes the filler, which leaves the filesystem with room again.
  void MakeRoom();

 private:
  std::string directory_;
  std::string filler_;
  bool mounted_ = false;
  std::string error_;
};

bool ShowsWindow(pid_t pid, const std::string& title);

}  // namespace veltrane::testing
