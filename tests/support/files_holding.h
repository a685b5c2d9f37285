// For tests of what reaches the disk: the files under a directory whose bytes
// hold a text, wherever they are and whatever they are called.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace veltrane::testing {

// Regular files under `directory` (searched through) holding `text`; a file
// that cannot be read counts as not holding it.
inline std::vector<std::string> FilesHolding(const std::string& directory,
                                             const std::string& text) {
  std::vector<std::string> found;
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator entry(
           directory, std::filesystem::directory_options::skip_permission_denied, error);
       !error && entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
    std::error_code unreadable;  // apart: it must not end the walk
    if (!entry->is_regular_file(unreadable)) continue;
    std::ifstream file(entry->path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    if (bytes.find(text) != std::string::npos) found.push_back(entry->path().string());
  }
  return found;
}

}  // namespace veltrane::testing
