#include <optional>
#include <set>

#include "admin/admin_error.h"
#include "admin/date_text.h"
#include "admin/names.h"
#include "admin/release_file.h"
#include "platform/text_lists.h"

namespace veltrane::admin {
namespace {

enum class Section { kNone, kSummary, kBody, kAbout, kContact };

Section SectionOf(std::string_view line) {
  const std::string word = LowerAscii(TrimBlanks(line));
  if (word == "[summary]") return Section::kSummary;
  if (word == "[body]") return Section::kBody;
  if (word == "[about]") return Section::kAbout;
  if (word == "[contact]") return Section::kContact;
  return Section::kNone;
}

// Joins a section's lines with CR LF, without the blank lines at either end
// that people leave around a section for readability.
std::string SectionText(const std::vector<std::string>& lines) {
  std::size_t first = 0;
  std::size_t last = lines.size();
  while (first < last && TrimBlanks(lines[first]).empty()) ++first;
  while (last > first && TrimBlanks(lines[last - 1]).empty()) --last;
  std::string text;
  for (std::size_t i = first; i < last; ++i) {
    if (i > first) text += "\r\n";
    text += lines[i];
  }
  return text;
}

class HeaderReader {
 public:
  HeaderReader(PressRelease& release, const std::string& source)
      : release_(release), source_(source) {}

  void SetLine(std::size_t number) { line_ = number; }
  [[noreturn]] void Fail(const std::string& message) const {
    DataError(source_ + ": line " + std::to_string(line_) + ": " + message);
  }

  void Apply(const std::string& writtenKey, const std::string& value) {
    const std::string key = LowerAscii(writtenKey);
    if (key == "keywords") {
      std::size_t start = 0;
      while (start <= value.size()) {
        const std::size_t comma = std::min(value.find(',', start), value.size());
        const std::string word = TrimBlanks(std::string_view(value).substr(start, comma - start));
        if (!word.empty()) release_.Keywords.push_back(word);
        start = comma + 1;
      }
      return;
    }
    if (key == "keyword") {
      if (!value.empty()) release_.Keywords.push_back(value);
      return;
    }
    if (key.starts_with("category.")) return ApplySiteCategory(writtenKey.substr(9), value);
    if (!seen_.insert(key).second) Fail("'" + writtenKey + "' given twice");
    if (key == "name") {
      release_.Name = value;
    } else if (key == "headline") {
      release_.Headline = value;
    } else if (key == "summary") {
      release_.Summary = value;
    } else if (key == "category") {
      release_.Category = value;
    } else if (key == "release_date") {
      if (value.empty()) return;
      const std::optional<int> date = ParseDate(value);
      if (!date) Fail("release_date '" + value + "' is not a date (YYYY-MM-DD)");
      release_.ReleaseDate = *date;
      release_.ReleaseDateGiven = true;
    } else {
      for (const ContactField& contact : kContactFields)
        if (key == contact.name) {
          release_.*contact.field = value;
          return;
        }
      Fail("unknown key '" + writtenKey + "'");
    }
  }

  bool SummaryGiven() const { return seen_.count("summary") > 0; }

 private:
  void ApplySiteCategory(const std::string& writtenSite, const std::string& value) {
    const std::string site = TrimBlanks(writtenSite);
    try {
      CheckSiteName(site);
    } catch (const CommandError& error) {
      Fail(error.what());
    }
    if (!seenSites_.insert(LowerAscii(site)).second)
      Fail("category for site '" + site + "' given twice");
    if (!value.empty()) release_.SiteCategories.push_back(site + "=" + value);
  }

  PressRelease& release_;
  const std::string& source_;
  std::size_t line_ = 0;
  std::set<std::string> seen_;
  std::set<std::string> seenSites_;
};

}  // namespace

PressRelease ParseReleaseFile(std::string_view text, const std::string& source) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // editors' UTF-8 mark
  PressRelease release;
  HeaderReader header(release, source);
  bool inHeader = true;
  Section current = Section::kNone;
  std::vector<std::string> sectionLines[5];
  std::set<Section> seenSections;

  const std::vector<std::string> lines = SplitLines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    header.SetLine(i + 1);
    const std::string& line = lines[i];
    if (const Section section = SectionOf(line); section != Section::kNone) {
      if (!seenSections.insert(section).second)
        header.Fail("section " + TrimBlanks(line) + " given twice");
      if (section == Section::kSummary && header.SummaryGiven())
        header.Fail("summary given both as a key and as a section");
      current = section;
      inHeader = false;
      continue;
    }
    const std::string trimmed = TrimBlanks(line);
    if (inHeader) {
      if (trimmed.empty()) {
        inHeader = false;
      } else if (trimmed.front() != '#') {
        const std::size_t colon = trimmed.find(':');
        if (colon == std::string::npos)
          header.Fail("expected 'key: value', found '" + trimmed + "'");
        header.Apply(TrimBlanks(std::string_view(trimmed).substr(0, colon)),
                     TrimBlanks(std::string_view(trimmed).substr(colon + 1)));
      }
      continue;
    }
    if (current == Section::kNone) {
      if (trimmed.empty()) continue;
      header.Fail("text outside a section (start it with [body], [about], [contact] or [summary])");
    }
    sectionLines[static_cast<int>(current)].push_back(line);
  }

  if (seenSections.count(Section::kSummary))
    release.Summary = SectionText(sectionLines[static_cast<int>(Section::kSummary)]);
  release.NewsBody = SectionText(sectionLines[static_cast<int>(Section::kBody)]);
  release.AboutCompany = SectionText(sectionLines[static_cast<int>(Section::kAbout)]);
  release.ContactDetail = SectionText(sectionLines[static_cast<int>(Section::kContact)]);
  if (release.Name.empty()) DataError(source + ": no 'name:' line");
  try {
    CheckReleaseName(release.Name);
  } catch (const CommandError& error) {
    DataError(source + ": " + error.what());
  }
  return release;
}

}  // namespace veltrane::admin
