#include "admin/date_text.h"
#include "admin/release_file.h"
#include "platform/text_lists.h"

namespace veltrane::admin {
namespace {

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

// A site category line "site=category" the file can hold as category.SITE.
bool IsSiteCategory(const std::string& line) {
  const std::size_t equals = line.find('=');
  return equals != std::string::npos && equals != 0;
}

}  // namespace

std::string FormatReleaseFile(const PressRelease& release) {
  const bool summaryAsSection = SplitLines(release.Summary).size() > 1;
  std::string out = "name: " + release.Name + "\n";
  out += "headline: " + release.Headline + "\n";
  if (!summaryAsSection) out += "summary: " + release.Summary + "\n";
  out += "category: " + release.Category + "\n";
  out +=
      "release_date: " + (release.ReleaseDateGiven ? FormatDate(release.ReleaseDate) : "") + "\n";
  std::vector<std::string> keywords;
  for (const std::string& keyword : release.Keywords)
    if (!keyword.empty()) keywords.push_back(keyword);
  if (NeedsOneLinePerKeyword(keywords)) {
    for (const std::string& keyword : keywords) out += "keyword: " + keyword + "\n";
  } else {
    out += "keywords: ";
    for (std::size_t i = 0; i < keywords.size(); ++i) out += (i ? ", " : "") + keywords[i];
    out += "\n";
  }
  for (const ContactField& contact : kContactFields)
    out += std::string(contact.name) + ": " + release.*contact.field + "\n";
  for (const std::string& line : release.SiteCategories) {
    if (!IsSiteCategory(line)) continue;
    const std::size_t equals = line.find('=');
    out += "category." + line.substr(0, equals) + ": " + line.substr(equals + 1) + "\n";
  }
  const std::string unkept = "# stored, but not kept by this file: ";
  for (const std::string& line : release.UnusedContactLines)
    out += unkept + "contact_data " + line + "\n";
  for (const std::string& line : release.SiteCategories)
    if (!line.empty() && !IsSiteCategory(line)) out += unkept + "extra_data " + line + "\n";
  if (summaryAsSection) WriteSection(out, "[summary]", release.Summary);
  WriteSection(out, "[body]", release.NewsBody);
  WriteSection(out, "[about]", release.AboutCompany);
  WriteSection(out, "[contact]", release.ContactDetail);
  return out;
}

}  // namespace veltrane::admin
