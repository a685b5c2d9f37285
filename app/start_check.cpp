#include "app/start_check.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>

#include "storage/stores.h"

namespace veltrane {

namespace {

// Drops "password=..." entries of a URI's query.
std::string QueryWithoutPassword(const std::string& query) {
  std::string kept;
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string entry = query.substr(start, end - start);
    if (!entry.empty() && !entry.starts_with("password=")) {
      if (!kept.empty()) kept += '&';
      kept += entry;
    }
    start = end + 1;
  }
  return kept;
}

std::string UriWithoutPassword(const std::string& uri) {
  const std::size_t authority = uri.find("://") + 3;
  std::size_t hostEnd = uri.find_first_of("/?", authority);
  if (hostEnd == std::string::npos) hostEnd = uri.size();
  std::string result = uri.substr(0, authority);
  std::string host = uri.substr(authority, hostEnd - authority);
  const std::size_t at = host.rfind('@');
  if (at != std::string::npos) {
    const std::size_t colon = host.find(':');
    if (colon < at) host.erase(colon, at - colon);
  }
  result += host;
  const std::size_t question = uri.find('?', hostEnd);
  result +=
      uri.substr(hostEnd, question == std::string::npos ? std::string::npos : question - hostEnd);
  if (question != std::string::npos) {
    const std::string query = QueryWithoutPassword(uri.substr(question + 1));
    if (!query.empty()) result += "?" + query;
  }
  return result;
}

// key = value pairs, a value maybe in single quotes with backslash escapes.
std::string PairsWithoutPassword(const std::string& pairs) {
  std::string kept;
  std::size_t at = 0;
  while (at < pairs.size()) {
    while (at < pairs.size() && std::isspace(static_cast<unsigned char>(pairs[at]))) ++at;
    if (at >= pairs.size()) break;
    const std::size_t start = at;
    while (at < pairs.size() && pairs[at] != '=') ++at;
    std::string key = pairs.substr(start, at - start);
    while (!key.empty() && std::isspace(static_cast<unsigned char>(key.back()))) key.pop_back();
    ++at;  // past "="
    while (at < pairs.size() && std::isspace(static_cast<unsigned char>(pairs[at]))) ++at;
    if (at < pairs.size() && pairs[at] == '\'') {
      for (++at; at < pairs.size() && pairs[at] != '\''; ++at)
        if (pairs[at] == '\\') ++at;
      ++at;
    } else {
      while (at < pairs.size() && !std::isspace(static_cast<unsigned char>(pairs[at]))) ++at;
    }
    if (key == "password") continue;
    if (!kept.empty()) kept += ' ';
    kept += pairs.substr(start, std::min(at, pairs.size()) - start);
  }
  return kept;
}

}  // namespace

std::string ServerWithoutPassword(const std::string& connection) {
  if (connection.starts_with("postgresql://") || connection.starts_with("postgres://"))
    return UriWithoutPassword(connection);
  return PairsWithoutPassword(connection);
}

std::string StartLineText(const std::string& version, const DatabasePaths& paths,
                          const std::string& folder, double pollIntervalDays) {
  const std::string store = paths.server.empty() ? paths.main + " and " + paths.subscription
                                                 : "server " + ServerWithoutPassword(paths.server);
  const long long pollSeconds = std::llround(pollIntervalDays * 86400.0);
  return "Veltrane " + version + " started: store " + store + ", folder " + folder +
         ", schedule poll every " + std::to_string(pollSeconds) + " s";
}

std::string StoreProblem(const DatabasePaths& paths) {
  if (paths.server.empty()) {
    const std::filesystem::path folder = std::filesystem::path(paths.main).parent_path();
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
      return "no database folder " + folder.string() + " (veltrane-admin init creates it)";
  }
  // Looked at only: the service's own opens would create an empty file.
  SqliteStoreOptions existing;
  existing.existingOnly = true;
  try {
    MakeScheduleStore(paths, existing)->Check();
    MakeSiteStore(paths, existing)->CheckSites();
  } catch (const StorageError& error) {
    return "store not usable: " + error.Where() + ": " + error.Message();
  }
  // Every job writes the main file, and SQLite its journal beside it.
  if (paths.server.empty()) {
    const std::string folder = std::filesystem::path(paths.main).parent_path().string();
    for (const std::string& path : {paths.main, folder})
      if (access(path.c_str(), W_OK) != 0) return "cannot write " + path;
  }
  return "";
}

}  // namespace veltrane
