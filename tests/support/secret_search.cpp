#include "tests/support/secret_search.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "tests/support/temp_dir.h"

namespace veltrane::testing {
namespace {

// `text` in windows-1252, or "" when a character has no byte there.
std::string Windows1252(const std::string& utf8) {
  iconv_t converter = iconv_open("WINDOWS-1252", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return {};
  std::string in = utf8;
  std::string out(utf8.size(), '\0');
  char* from = in.data();
  char* to = out.data();
  std::size_t fromLeft = in.size();
  std::size_t toLeft = out.size();
  const bool converted =
      iconv(converter, &from, &fromLeft, &to, &toLeft) != static_cast<size_t>(-1);
  iconv_close(converter);
  if (!converted) return {};
  out.resize(out.size() - toLeft);
  return out;
}

}  // namespace

std::string PercentEncoded(const std::string& bytes, bool escapeReserved, bool blankAsPlus,
                           bool upperHex) {
  const char* hex = upperHex ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string encoded;
  for (const unsigned char c : bytes) {
    const bool plain = std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '*' ||
                       (!escapeReserved && c > ' ' && c < 0x7f && c != '%');
    if (plain) {
      encoded += static_cast<char>(c);
    } else if (c == ' ' && blankAsPlus) {
      encoded += '+';
    } else {
      encoded += '%';
      encoded += hex[c >> 4];
      encoded += hex[c & 15];
    }
  }
  return encoded;
}

std::vector<std::string> SecretSpellings(const std::string& utf8) {
  std::vector<std::string> spellings;
  for (const std::string& bytes : {utf8, Windows1252(utf8)}) {
    if (bytes.empty()) continue;
    spellings.push_back(bytes);
    for (const bool escapeReserved : {true, false})
      for (const bool blankAsPlus : {true, false})
        for (const bool upperHex : {true, false})
          spellings.push_back(PercentEncoded(bytes, escapeReserved, blankAsPlus, upperHex));
  }
  std::sort(spellings.begin(), spellings.end());
  spellings.erase(std::unique(spellings.begin(), spellings.end()), spellings.end());
  return spellings;
}

std::vector<SecretFound> FilesHolding(const std::string& folder,
                                      const std::vector<std::string>& spellings,
                                      const std::vector<std::string>& skipped) {
  std::vector<SecretFound> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(
           folder, std::filesystem::directory_options::skip_permission_denied, error)) {
    if (!entry.is_regular_file(error) || entry.is_symlink(error)) continue;
    const std::string relative = entry.path().lexically_relative(folder).string();
    if (std::any_of(skipped.begin(), skipped.end(),
                    [&](const std::string& skip) { return relative.rfind(skip, 0) == 0; }))
      continue;
    const std::string bytes = FileBytes(entry.path().string());
    for (const std::string& spelling : spellings) {
      if (bytes.find(spelling) == std::string::npos) continue;
      found.push_back({entry.path().string(), spelling});
      break;
    }
  }
  return found;
}

}  // namespace veltrane::testing
