// The press release file a person writes by hand, and its mapping to the
// pressrelease row as the service reads it. The file is "key: value" header
// lines (keys ignore letter case; "#" starts a comment), then [summary],
// [body], [about] and [contact] sections holding multi-line texts; the header
// ends at a blank line or the first section. ParseReleaseFile throws a data
// error naming the source and line; FormatReleaseFile writes what it parses.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veltrane::admin {

// The contact names the service looks up in contact_data, in the order written.
inline constexpr std::array<std::string_view, 11> kContactNames = {
    "company_name", "contact_person", "email", "website", "country", "phonenumber",
    "fax",          "street_address", "city",  "state",   "zipcode"};

struct ReleaseRecord {
  std::string name;
  std::string headline;
  std::string summary;  // may hold CR LF line breaks
  std::string category;
  std::optional<int> releaseDate;  // whole day number; none leaves the service's "today"
  std::vector<std::string> keywords;
  std::array<std::string, kContactNames.size()> contacts;           // empty = not given
  std::vector<std::pair<std::string, std::string>> siteCategories;  // site, category
  std::string body;                                                 // news_body
  std::string about;                                                // about_company
  std::string contact;                                              // contact_detail
  // Stored lines the file format cannot express, shown as comments.
  std::vector<std::string> unreadLines;

  bool operator==(const ReleaseRecord&) const = default;
};

ReleaseRecord ParseReleaseFile(std::string_view text, const std::string& source);
std::string FormatReleaseFile(const ReleaseRecord& record);

// The column texts: name=value and one-per-line lists joined with CR LF.
std::string ContactDataText(const ReleaseRecord& record);
std::string KeywordText(const ReleaseRecord& record);
std::string ExtraDataText(const ReleaseRecord& record);

// Fills contacts, keywords and siteCategories from stored column texts; lines
// that fit none of them go to unreadLines.
void ReadListColumns(ReleaseRecord& record, std::string_view contactData, std::string_view keyword,
                     std::string_view extraData);

}  // namespace veltrane::admin
