// Shell completion of veltrane-admin's command lines, from the command table:
// what may follow the words typed so far (without the program name and
// without --dir DIR). Command words, a command's options (those its usage
// line names, and --help), and site or release names where the usage line
// wants one (NAME of a site or release command, SITE, --release, --sites). An
// empty list leaves the shell to complete file names.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

namespace veltrane::admin {

// The names in the store, read only when a completion needs them.
struct CompletionNames {
  std::function<std::vector<std::string>()> sites;
  std::function<std::vector<std::string>()> releases;
};

// `typed` are the whole words before the one being completed; `current` is
// that word's start: only candidates that begin with it are returned.
std::vector<std::string> CompletionCandidates(std::span<const std::string> typed,
                                              const std::string& current,
                                              const CompletionNames& names);

}  // namespace veltrane::admin
