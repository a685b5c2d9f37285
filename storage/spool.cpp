#include "storage/spool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>
#include <utility>

#include "platform/number_text.h"

namespace veltrane {
namespace {

constexpr const char* kPrefix = "spooled-";
constexpr const char* kRowSuffix = ".row";
constexpr const char* kStatementSuffix = ".sql";
// Version 1 had no end marker; its files are read when every field is there.
constexpr const char* kRowHeaderV1 = "veltrane kept history row 1\n";
constexpr const char* kRowHeader = "veltrane kept history row 2\n";
constexpr const char* kRowEnd = "end 0\n\n";
constexpr const char* kIncomplete = "incomplete: its end is missing";

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

// A name that sorts in the order the files were spooled.
std::string NewName(const char* suffix) {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  char name[96];
  std::snprintf(name, sizeof name, "%s%020lld-%06u-%d%s", kPrefix, static_cast<long long>(stamp),
                counter++ % 1000000, static_cast<int>(getpid()), suffix);
  return name;
}

std::string Spool(const std::string& directory, const std::string& bytes, const char* suffix) {
  const std::string name = NewName(suffix);
  const std::string path = directory + "/" + name;
  const std::string temporary = directory + "/." + name + ".part";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return {};
  const bool saved = WriteAll(fd, bytes) && fsync(fd) == 0;
  close(fd);
  if (!saved || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return {};
  }
  SyncDirectory(directory);
  return path;
}

// Fields as "<name> <length>\n<bytes>\n": texts of any bytes cross unchanged.
void AddField(std::string& text, const char* name, const std::string& value) {
  text += std::string(name) + " " + std::to_string(value.size()) + "\n" + value + "\n";
}

std::optional<std::map<std::string, std::string>> ReadFields(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t space = text.find(' ', at);
    const std::size_t newline = text.find('\n', at);
    if (space == std::string::npos || newline == std::string::npos || space > newline)
      return std::nullopt;
    char* end = nullptr;
    const unsigned long long length = std::strtoull(text.c_str() + space + 1, &end, 10);
    if (end != text.c_str() + newline || length > text.size() - newline - 1) return std::nullopt;
    const std::size_t value = newline + 1;
    if (value + length >= text.size() || text[value + length] != '\n') return std::nullopt;
    fields[text.substr(at, space - at)] = text.substr(value, length);
    at = value + length + 1;
  }
  return fields;
}

std::optional<KeptHistoryRow> ParseRow(const std::string& text) {
  const std::string_view header = text.starts_with(kRowHeader) ? kRowHeader : kRowHeaderV1;
  if (header == kRowHeader && !text.ends_with(kRowEnd)) return std::nullopt;
  std::optional<std::map<std::string, std::string>> fields = ReadFields(text.substr(header.size()));
  if (!fields) return std::nullopt;
  for (const char* name :
       {"name", "time", "status", "content", "subscription", "finishes", "now", "holder"})
    if (!fields->count(name)) return std::nullopt;
  std::map<std::string, std::string>& field = *fields;
  KeptHistoryRow kept;
  kept.row = {field["name"], field["time"], field["status"], field["content"],
              field["subscription"]};
  kept.finishesJob = std::strtoll(field["finishes"].c_str(), nullptr, 10);
  const std::string& now = field["now"];
  const auto [end, failure] = std::from_chars(now.data(), now.data() + now.size(), kept.now);
  if (failure != std::errc() || end != now.data() + now.size()) return std::nullopt;
  kept.holder = field["holder"];
  return kept;
}

// The statements of a SQL text, split at the semicolons outside texts,
// quoted names and comments; `open` tells that the text ends inside one.
std::vector<std::string> SplitStatements(const std::string& text, bool& open) {
  std::vector<std::string> statements;
  std::string current;
  char quote = 0;  // ' or " while inside one; '-' in a line comment, '*' in a block comment
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    const char next = at + 1 < text.size() ? text[at + 1] : 0;
    if (quote == '-') {
      if (c == '\n') quote = 0;
      continue;
    }
    if (quote == '*') {
      if (c == '*' && next == '/') quote = 0, ++at;
      continue;
    }
    if (quote) {
      current += c;
      if (c == quote) quote = 0;  // a doubled quote closes and opens again
      continue;
    }
    if (c == '-' && next == '-')
      quote = '-';
    else if (c == '/' && next == '*')
      quote = '*', ++at;
    else if (c == ';')
      statements.push_back(std::exchange(current, {}));
    else {
      if (c == '\'' || c == '"') quote = c;
      current += c;
    }
  }
  open = quote == '\'' || quote == '"' || quote == '*';
  statements.push_back(current);
  std::vector<std::string> trimmed;
  for (const std::string& statement : statements) {
    const std::size_t first = statement.find_first_not_of(" \t\r\n");
    if (first != std::string::npos)
      trimmed.push_back(statement.substr(first, statement.find_last_not_of(" \t\r\n") + 1 - first));
  }
  return trimmed;
}

// The statement's first word in capitals.
std::string Verb(const std::string& statement) {
  std::string verb;
  for (const char c : statement) {
    if (!std::isalpha(static_cast<unsigned char>(c))) break;
    verb += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return verb;
}

bool ControlsTransactions(const std::string& verb) {
  for (const char* control :
       {"BEGIN", "START", "COMMIT", "END", "ROLLBACK", "SAVEPOINT", "RELEASE"})
    if (verb == control) return true;
  return false;
}

}  // namespace

std::optional<std::string> SpooledStatements(const std::string& text, std::string& why) {
  bool open = false;
  std::vector<std::string> statements = SplitStatements(text, open);
  if (open || statements.empty()) {
    why = kIncomplete;
    return std::nullopt;
  }
  if (ControlsTransactions(Verb(statements.front()))) {
    const std::string last = Verb(statements.back());
    // The text after the last semicolon is empty when the file ends with its COMMIT.
    const bool ended = text.find_last_not_of(" \t\r\n") == text.rfind(';');
    if (statements.size() < 2 || (last != "COMMIT" && last != "END") || !ended) {
      why = kIncomplete;
      return std::nullopt;
    }
    statements.erase(statements.begin());
    statements.pop_back();
  }
  std::string body;
  for (const std::string& statement : statements) {
    if (ControlsTransactions(Verb(statement))) {
      why = "it controls its own transactions";
      return std::nullopt;
    }
    body += statement + ";\n";
  }
  return body;
}

std::string MoveToFailed(const std::string& path) {
  const std::filesystem::path from(path);
  const std::filesystem::path folder = from.parent_path() / "spool-failed";
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  const std::filesystem::path to = folder / from.filename();
  if (std::rename(from.c_str(), to.c_str()) != 0) return {};
  SyncDirectory(folder.string());
  SyncDirectory(from.parent_path().string());
  return to.string();
}

std::string KeepHistoryRow(const std::string& directory, const KeptHistoryRow& kept) {
  std::string text = kRowHeader;
  AddField(text, "name", kept.row.name);
  AddField(text, "time", kept.row.time);
  AddField(text, "status", kept.row.status);
  AddField(text, "content", kept.row.content);
  AddField(text, "subscription", kept.row.subscription);
  AddField(text, "finishes", std::to_string(kept.finishesJob));
  AddField(text, "now", SqlNumberText(kept.now));
  AddField(text, "holder", kept.holder);
  return Spool(directory, text + kRowEnd, kRowSuffix);
}

std::string SpoolStatement(const std::string& directory, const std::string& sql) {
  return Spool(directory, sql, kStatementSuffix);
}

std::vector<SpooledFile> SpooledFiles(const std::string& directory) {
  std::vector<std::filesystem::path> paths;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(kPrefix) &&
        (name.ends_with(kRowSuffix) || name.ends_with(kStatementSuffix)))
      paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<SpooledFile> files;
  for (const std::filesystem::path& path : paths) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    SpooledFile file;
    file.path = path.string();
    const std::string text = bytes.str();
    if (!in) {
      file.unusable = "it cannot be read";
    } else if (path.extension() == kStatementSuffix) {
      if (std::optional<std::string> statements = SpooledStatements(text, file.unusable))
        file.statements = std::move(*statements);
    } else if (text.starts_with(kRowHeader) || text.starts_with(kRowHeaderV1)) {
      file.row = ParseRow(text);
      if (!file.row) file.unusable = kIncomplete;
    } else {
      file.unusable = text.empty() ? kIncomplete : "it holds no kept row";
    }
    files.push_back(std::move(file));
  }
  return files;
}

}  // namespace veltrane
