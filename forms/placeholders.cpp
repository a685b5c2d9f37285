#include "forms/placeholders.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "jobs/locale_dates.h"
#include "platform/day_clock.h"
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

}  // namespace

std::string ReplaceIgnoringCase(std::string_view text, std::string_view placeholder,
                                std::string_view value) {
  if (placeholder.empty()) return std::string(text);
  // Placeholders are ASCII, so folding A-Z is what locale upper-casing gives
  // for them; the text keeps its own case.
  const std::string upperText = UpperAscii(text);
  const std::string upperPlaceholder = UpperAscii(placeholder);
  std::string result;
  std::size_t from = 0;
  for (std::size_t found; (found = upperText.find(upperPlaceholder, from)) != std::string::npos;
       from = found + placeholder.size()) {
    result.append(text.substr(from, found - from));
    result.append(value);
  }
  result.append(text.substr(from));
  return result;
}

std::string SubstitutePlaceholders(const JobState& state, std::string_view text) {
  const CalendarTime release = CalendarFromDayNumber(state.ReleaseDate);
  const std::pair<const char*, std::string> rows[] = {
      {"$$company_name$$", state.CompanyName},
      {"$$company$$", state.CompanyName},
      {"$$contact_person$$", state.ContactPerson},
      {"$$author$$", state.ContactPerson},
      {"$$email$$", state.Email},
      {"$$website$$", state.Website},
      {"$$country$$", state.Country},
      {"$$phonenumber$$", state.PhoneNumber},
      {"$$fax$$", state.Fax},
      {"$$phone$$", state.PhoneNumber},
      {"$$street_address$$", state.StreetAddress},
      {"$$address$$", state.StreetAddress},
      {"$$city$$", state.City},
      {"$$state$$", state.State},
      {"$$zipcode$$", state.ZipCode},
      {"$$username$$", state.UserName},
      {"$$password$$", state.Password},
      {"$$headline$$", state.Headline},
      {"$$summary$$", state.Summary},
      {"$$keyword$$", state.KeywordsComma},
      {"$$news_body$$", state.NewsBody},
      {"$$news_body_HTML$$", state.NewsBodyHtml},
      {"$$content$$", state.NewsBody},
      {"$$about_company$$", state.AboutCompany},
      {"$$contact_detail$$", state.ContactDetail},
      {"$$pressrelease$$", state.FullText},
      {"$$release_date$$", ShortDateText(state.ReleaseDate)},
      {"$$keyword_space$$", state.KeywordsSpace},
      {"$$RELEASE_DATE_DATE_INTEGER$$", TwoDigits(release.day)},
      {"$$RELEASE_DATE_DATE_STRING$$", LongDayName(release.weekday)},
      {"$$RELEASE_DATE_MONTH_INTEGER$$", TwoDigits(release.month)},
      {"$$RELEASE_DATE_MONTH_STRING$$", LongMonthName(release.month)},
      {"$$RELEASE_DATE_YEAR$$", FourDigits(release.year)},
      {"$$CATEGORY$$", state.Category},
  };
  std::string result(text);
  for (const auto& [placeholder, value] : rows)
    result = ReplaceIgnoringCase(result, placeholder, value);
  return result;
}

}  // namespace veltrane
