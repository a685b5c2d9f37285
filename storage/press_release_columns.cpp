#include "storage/press_release_columns.h"

#include <set>

#include "platform/text_lists.h"

namespace veltrane {
namespace {

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) text += "\r\n";
    text += lines[i];
  }
  return text;
}

// The lines the contact lookups pass over: the service reads the first line
// of each contact name only.
std::vector<std::string> UnusedContactLines(const std::vector<std::string>& lines) {
  std::vector<std::string> unused;
  std::set<std::string_view> taken;
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    const std::size_t equals = line.find('=');
    bool used = false;
    for (const ContactField& contact : kContactFields)
      if (equals != std::string::npos &&
          EqualsIgnoringAsciiCase(std::string_view(line).substr(0, equals), contact.name))
        used = taken.insert(contact.name).second;
    if (!used) unused.push_back(line);
  }
  return unused;
}

}  // namespace

void ReadPressReleaseRow(const StoredRow& row, std::int32_t today, PressRelease& release) {
  // Fields are assigned in the order the columns are read, so an error part-way
  // keeps exactly the fields read before it.
  const std::vector<std::string> contact = SplitLines(row.Text("contact_data"));
  for (const ContactField& field : kContactFields)
    release.*field.field = LookupValue(contact, field.name);
  release.UnusedContactLines = UnusedContactLines(contact);

  release.Headline = row.Text("headline");
  release.Summary = row.Text("summary");
  std::vector<std::string> keywords = SplitLines(row.Text("keyword"));
  release.Category = row.Text("category");
  const std::optional<std::int64_t> date = row.Integer("release_date");
  release.ReleaseDateGiven = date.has_value();
  // A 32-bit day number, as the service has always read it.
  release.ReleaseDate = date ? static_cast<std::int32_t>(*date) : today;

  release.NewsBody = row.Text("news_body");
  release.AboutCompany = row.Text("about_company");
  release.ContactDetail = row.Text("contact_detail");
  release.FullText = FullTextOf(release);
  release.SiteCategories = SplitLines(row.Text("extra_data"));
  release.NewsBodyHtml = NewsBodyHtmlOf(release.NewsBody);

  release.Keywords = std::move(keywords);
  release.KeywordsComma = JoinKeywords(release, ",");
  release.KeywordsSpace = JoinKeywords(release, " ");
}

std::string JoinKeywords(const PressRelease& release, const char* separator) {
  std::string text;
  for (std::size_t i = 0; i < release.Keywords.size(); ++i) {
    if (i > 0) text += separator;
    text += release.Keywords[i];
  }
  return text;
}

std::string FullTextOf(const PressRelease& release) {
  return release.Headline + "\r\n\r\n" + release.Summary + "\r\n\r\n" + release.NewsBody +
         "\r\n\r\n" + release.AboutCompany + "\r\n\r\n" + release.ContactDetail + "\r\n\r\n" +
         "###";
}

std::string NewsBodyHtmlOf(const std::string& newsBody) {
  std::string html;
  html.reserve(newsBody.size());
  for (const char c : newsBody) {
    if (c == '\n')
      html += "<BR>";
    else
      html += c;
  }
  return html;
}

std::string ContactDataText(const PressRelease& release) {
  std::vector<std::string> lines;
  for (const ContactField& contact : kContactFields)
    if (!(release.*contact.field).empty())
      lines.push_back(std::string(contact.name) + "=" + release.*contact.field);
  return JoinCrLf(lines);
}

std::string KeywordText(const PressRelease& release) { return JoinCrLf(release.Keywords); }

std::string ExtraDataText(const PressRelease& release) { return JoinCrLf(release.SiteCategories); }

}  // namespace veltrane
