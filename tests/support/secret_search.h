// Looking for a secret left on disk: the spellings a password takes in pages,
// addresses and caches, and the files under a folder that hold one of them.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace veltrane::testing {

// `utf8` raw and percent-encoded (upper and lower hex; reserved characters
// escaped or kept; a blank as "+" or "%20"), in UTF-8 and in windows-1252
// (the charset an ISO-8859-1 page submits in). Characters without a
// windows-1252 byte are left out of that charset's spellings.
std::vector<std::string> SecretSpellings(const std::string& utf8);

// `bytes` percent-encoded: letters, digits and "-._*" kept; with
// `escapeReserved` false, other printable ASCII but "%" kept too; a blank as
// "+" when `blankAsPlus`; hex digits in upper or lower case.
std::string PercentEncoded(const std::string& bytes, bool escapeReserved, bool blankAsPlus,
                           bool upperHex);

struct SecretFound {
  std::string path;
  std::string spelling;
  bool operator==(const SecretFound&) const = default;
};

inline void PrintTo(const SecretFound& found, std::ostream* out) {
  *out << found.path << " holds \"" << found.spelling << "\"";
}

// The regular files under `folder` (recursively, symbolic links not followed)
// that hold one of `spellings`, except those whose path relative to `folder`
// starts with one of `skipped`.
std::vector<SecretFound> FilesHolding(const std::string& folder,
                                      const std::vector<std::string>& spellings,
                                      const std::vector<std::string>& skipped = {});

}  // namespace veltrane::testing
