#include "forms/placeholders.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/day_clock.h"
#include "platform/locale_dates.h"
#include "platform/text_lists.h"

namespace veltrane {
namespace {

std::string TwoDigits(int number) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", number);
  return buffer;
}

std::string FourDigits(int number) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04d", number);
  return buffer;
}

// Text under substitution, each byte marked with whether it was written in
// the step's own value (true) or inserted by a row (false).
struct MarkedText {
  std::string text;
  std::vector<bool> own;
};

// One row's pass: every occurrence of `placeholder` (A-Z case ignored) is
// replaced with `value`, the search going on behind each occurrence. With
// `ownTextOnly`, an occurrence that covers any inserted byte stays as it is.
MarkedText ReplaceRow(const MarkedText& current, std::string_view placeholder,
                      std::string_view value, bool ownTextOnly) {
  // Placeholders are ASCII, so folding A-Z is what locale upper-casing gives
  // for them; the text keeps its own case.
  const std::string upperText = UpperAscii(current.text);
  const std::string upperPlaceholder = UpperAscii(placeholder);
  MarkedText result;
  std::size_t from = 0;
  const auto copy = [&](std::size_t begin, std::size_t end) {
    result.text.append(current.text, begin, end - begin);
    result.own.insert(result.own.end(), current.own.begin() + static_cast<std::ptrdiff_t>(begin),
                      current.own.begin() + static_cast<std::ptrdiff_t>(end));
  };
  for (std::size_t found; (found = upperText.find(upperPlaceholder, from)) != std::string::npos;
       from = found + placeholder.size()) {
    const std::size_t end = found + placeholder.size();
    const bool allOwn = std::all_of(current.own.begin() + static_cast<std::ptrdiff_t>(found),
                                    current.own.begin() + static_cast<std::ptrdiff_t>(end),
                                    [](bool b) { return b; });
    if (ownTextOnly && !allOwn) {
      copy(from, end);
      continue;
    }
    copy(from, found);
    result.text.append(value);
    result.own.insert(result.own.end(), value.size(), false);
  }
  copy(from, current.text.size());
  return result;
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
  return UpperAscii(text).find(UpperAscii(part)) != std::string::npos;
}

constexpr char kUserNamePlaceholder[] = "$$username$$";
constexpr char kPasswordPlaceholder[] = "$$password$$";

}  // namespace

std::string ReplaceIgnoringCase(std::string_view text, std::string_view placeholder,
                                std::string_view value) {
  if (placeholder.empty()) return std::string(text);
  return ReplaceRow({std::string(text), std::vector<bool>(text.size(), true)}, placeholder, value,
                    false)
      .text;
}

bool HoldsLoginPlaceholder(std::string_view text) {
  return ContainsIgnoringCase(text, kUserNamePlaceholder) ||
         ContainsIgnoringCase(text, kPasswordPlaceholder);
}

bool HoldsReleasePlaceholder(std::string_view text) {
  const std::string rest = ReplaceIgnoringCase(ReplaceIgnoringCase(text, kUserNamePlaceholder, ""),
                                               kPasswordPlaceholder, "");
  return rest.find("$$") != std::string::npos;
}

std::string SubstitutePlaceholders(const PressRelease& release, const SiteLogin& login,
                                   std::string_view text) {
  const CalendarTime released = CalendarFromDayNumber(release.ReleaseDate);
  const std::pair<const char*, std::string> rows[] = {
      {"$$company_name$$", release.CompanyName},
      {"$$company$$", release.CompanyName},
      {"$$contact_person$$", release.ContactPerson},
      {"$$author$$", release.ContactPerson},
      {"$$email$$", release.Email},
      {"$$website$$", release.Website},
      {"$$country$$", release.Country},
      {"$$phonenumber$$", release.PhoneNumber},
      {"$$fax$$", release.Fax},
      {"$$phone$$", release.PhoneNumber},
      {"$$street_address$$", release.StreetAddress},
      {"$$address$$", release.StreetAddress},
      {"$$city$$", release.City},
      {"$$state$$", release.State},
      {"$$zipcode$$", release.ZipCode},
      {kUserNamePlaceholder, login.UserName},
      {kPasswordPlaceholder, login.Password},
      {"$$headline$$", release.Headline},
      {"$$summary$$", release.Summary},
      {"$$keyword$$", release.KeywordsComma},
      {"$$news_body$$", release.NewsBody},
      {"$$news_body_HTML$$", release.NewsBodyHtml},
      {"$$content$$", release.NewsBody},
      {"$$about_company$$", release.AboutCompany},
      {"$$contact_detail$$", release.ContactDetail},
      {"$$pressrelease$$", release.FullText},
      {"$$release_date$$", ShortDateText(release.ReleaseDate)},
      {"$$keyword_space$$", release.KeywordsSpace},
      {"$$RELEASE_DATE_DATE_INTEGER$$", TwoDigits(released.day)},
      {"$$RELEASE_DATE_DATE_STRING$$", LongDayName(released.weekday)},
      {"$$RELEASE_DATE_MONTH_INTEGER$$", TwoDigits(released.month)},
      {"$$RELEASE_DATE_MONTH_STRING$$", LongMonthName(released.month)},
      {"$$RELEASE_DATE_YEAR$$", FourDigits(released.year)},
      {"$$CATEGORY$$", release.Category},
  };
  MarkedText result{std::string(text), std::vector<bool>(text.size(), true)};
  for (const auto& [placeholder, value] : rows) {
    // The login goes only where the step itself asks for it: a press-release
    // value that names a login placeholder must not fill in the login.
    const bool isLogin = placeholder == std::string_view(kUserNamePlaceholder) ||
                         placeholder == std::string_view(kPasswordPlaceholder);
    result = ReplaceRow(result, placeholder, value, isLogin);
  }
  return std::move(result.text);
}

}  // namespace veltrane
