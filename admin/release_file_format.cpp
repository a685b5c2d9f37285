#include "admin/date_text.h"
#include "admin/release_file.h"
#include "platform/text_lists.h"

namespace veltrane::admin {
namespace {

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) text += "\r\n";
    text += lines[i];
  }
  return text;
}

void WriteSection(std::string& out, const char* header, const std::string& text) {
  out += '\n';
  out += header;
  out += '\n';
  for (const std::string& line : SplitLines(text)) out += line + '\n';
}

bool NeedsOneLinePerKeyword(const std::vector<std::string>& keywords) {
  for (const std::string& keyword : keywords)
    if (keyword.find(',') != std::string::npos || TrimBlanks(keyword) != keyword) return true;
  return false;
}

}  // namespace

std::string FormatReleaseFile(const ReleaseRecord& record) {
  const bool summaryAsSection = SplitLines(record.summary).size() > 1;
  std::string out = "name: " + record.name + "\n";
  out += "headline: " + record.headline + "\n";
  if (!summaryAsSection) out += "summary: " + record.summary + "\n";
  out += "category: " + record.category + "\n";
  out += "release_date: " + (record.releaseDate ? FormatDate(*record.releaseDate) : "") + "\n";
  if (NeedsOneLinePerKeyword(record.keywords)) {
    for (const std::string& keyword : record.keywords) out += "keyword: " + keyword + "\n";
  } else {
    out += "keywords: ";
    for (std::size_t i = 0; i < record.keywords.size(); ++i)
      out += (i ? ", " : "") + record.keywords[i];
    out += "\n";
  }
  for (std::size_t i = 0; i < kContactNames.size(); ++i)
    out += std::string(kContactNames[i]) + ": " + record.contacts[i] + "\n";
  for (const auto& [site, category] : record.siteCategories)
    out += "category." + site + ": " + category + "\n";
  for (const std::string& line : record.unreadLines)
    out += "# stored, but not kept by this file: " + line + "\n";
  if (summaryAsSection) WriteSection(out, "[summary]", record.summary);
  WriteSection(out, "[body]", record.body);
  WriteSection(out, "[about]", record.about);
  WriteSection(out, "[contact]", record.contact);
  return out;
}

std::string ContactDataText(const ReleaseRecord& record) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < kContactNames.size(); ++i)
    if (!record.contacts[i].empty())
      lines.push_back(std::string(kContactNames[i]) + "=" + record.contacts[i]);
  return JoinCrLf(lines);
}

std::string KeywordText(const ReleaseRecord& record) { return JoinCrLf(record.keywords); }

std::string ExtraDataText(const ReleaseRecord& record) {
  std::vector<std::string> lines;
  for (const auto& [site, category] : record.siteCategories) lines.push_back(site + "=" + category);
  return JoinCrLf(lines);
}

void ReadListColumns(ReleaseRecord& record, std::string_view contactData, std::string_view keyword,
                     std::string_view extraData) {
  for (const std::string& line : SplitLines(contactData)) {
    if (line.empty()) continue;
    const std::size_t equals = line.find('=');
    bool taken = false;
    for (std::size_t i = 0; equals != std::string::npos && i < kContactNames.size(); ++i)
      // The service takes the first line of a name; a later one is shown as unread.
      if (EqualsIgnoringAsciiCase(line.substr(0, equals), kContactNames[i]) &&
          record.contacts[i].empty()) {
        record.contacts[i] = line.substr(equals + 1);
        taken = true;
        break;
      }
    if (!taken) record.unreadLines.push_back("contact_data " + line);
  }
  for (const std::string& line : SplitLines(keyword))
    if (!line.empty()) record.keywords.push_back(line);
  for (const std::string& line : SplitLines(extraData)) {
    if (line.empty()) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0)
      record.unreadLines.push_back("extra_data " + line);
    else
      record.siteCategories.emplace_back(line.substr(0, equals), line.substr(equals + 1));
  }
}

}  // namespace veltrane::admin
