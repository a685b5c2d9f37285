// JobState: the fields of the browser window TForm2 that hold the running job,
// its press release values and its current site and step, as plain
// data. The browser window owns one for the life of the program; the loaders,
// the report, the script reader, the step engine and the form filler read and
// write it on the user-interface thread only. Nothing here locks or frees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veltrane {

struct JobState {
  std::string PressReleaseName;
  std::vector<std::string> PendingSites;    // sites not yet run, schedule order
  std::vector<std::string> SiteCategories;  // the press release's extra_data lines
  std::vector<std::string> StepValues;      // key=value lines of the current step

  // Press release contact values (contact_data name=value lookups).
  std::string CompanyName;
  std::string ContactPerson;
  std::string Email;
  std::string Website;
  std::string Country;
  std::string PhoneNumber;
  std::string StreetAddress;
  std::string City;
  std::string State;
  std::string ZipCode;
  std::string Fax;

  // The current site's login.
  std::string UserName;
  std::string Password;

  std::string Headline;
  std::string Summary;
  std::string KeywordsComma;
  std::string KeywordsSpace;
  std::string Category;
  std::int32_t ReleaseDate = 0;  // whole day number
  std::string NewsBody;
  std::string NewsBodyHtml;
  std::string AboutCompany;
  std::string ContactDetail;
  std::string FullText;

  std::string SiteUrl;
  std::string SiteScript;
  std::string CurrentSite;
  double PageDeadline = 0.0;  // day number

  std::vector<std::string> CompletedSites;  // in the order they ended
  std::vector<std::string> FailedSites;     // in the order they ended
  // The reason SiteFailed received, one entry per entry of FailedSites (same
  // index); the report lists it beside the failed site.
  std::vector<std::string> FailedReasons;

  // The job was cut short (a crash, a kill) and finished after a restart.
  bool Resumed = false;

  bool JobRunning = false;
  bool PageWaitOver = false;
  bool AwaitRedirect = false;
  std::int32_t StepNumber = 0;  // current step, from 1
};

}  // namespace veltrane
