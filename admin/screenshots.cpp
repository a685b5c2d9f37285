#include "admin/screenshots.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "admin/date_text.h"
#include "admin/names.h"

namespace veltrane::admin {
namespace {

constexpr std::size_t kStampLength = 15;  // YYYYMMDD-HHMMSS

bool IsStamp(std::string_view text) {
  if (text.size() < kStampLength || text[8] != '-') return false;
  for (std::size_t i = 0; i < kStampLength; ++i)
    if (i != 8 && (text[i] < '0' || text[i] > '9')) return false;
  return true;
}

}  // namespace

std::vector<std::string> ParseCommaText(std::string_view text) {
  std::vector<std::string> entries;
  if (text.empty()) return entries;
  std::size_t at = 0;
  while (true) {
    std::string entry;
    if (at < text.size() && text[at] == '"') {
      ++at;
      while (at < text.size()) {
        if (text[at] == '"') {
          if (at + 1 < text.size() && text[at + 1] == '"') {
            entry += '"';
            at += 2;
            continue;
          }
          ++at;
          break;
        }
        entry += text[at++];
      }
    }
    while (at < text.size() && text[at] != ',') entry += text[at++];
    entries.push_back(std::move(entry));
    if (at >= text.size()) break;
    ++at;  // the comma
  }
  return entries;
}

std::vector<std::string> ScreenshotsOf(const std::string& directory,
                                       const std::vector<std::string>& sites,
                                       double previousHistoryTime, double historyTime) {
  std::set<std::string> safeSites;
  for (const std::string& site : sites) safeSites.insert(ShotSiteName(site));
  // The previous job's last shot is often taken in the second its row was written.
  const std::string earliest = FormatDateStamp(previousHistoryTime);
  const std::string latest = FormatDateStamp(historyTime);

  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (!name.ends_with(".png") || !IsStamp(name) || name.size() < kStampLength + 6 ||
        name[kStampLength] != '-')
      continue;
    const std::string stamp = name.substr(0, kStampLength);
    const std::string site = name.substr(kStampLength + 1, name.size() - kStampLength - 5);
    if (stamp > earliest && stamp <= latest && safeSites.count(site))
      found.push_back(entry.path().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace veltrane::admin
