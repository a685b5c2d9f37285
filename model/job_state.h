// The running job as plain data, in the parts that different code needs: the
// press release with its derived values (read by placeholders and list
// choices), the current site's run (address, script, login, step), and the
// job's outcome (the sites that ended, with reasons). JobState puts them
// together with the job's own flags. The browser window's job owns one for
// the life of the program; the loaders, the report, the script reader, the
// step engine and the form filler read and write it on the user-interface
// thread only. Nothing here locks or frees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veltrane {

// The press release's values, as loaded for a job.
struct PressRelease {
  // Contact values (contact_data name=value lookups).
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
  std::vector<std::string> SiteCategories;  // extra_data lines: site=category
};

// A site's login (its account row).
struct SiteLogin {
  std::string UserName;
  std::string Password;
};

// The site being run and its current step.
struct SiteRun {
  std::string CurrentSite;
  std::string SiteUrl;
  std::string SiteScript;
  SiteLogin login;
  std::vector<std::string> StepValues;  // key=value lines of the current step
  std::int32_t StepNumber = 0;          // current step, from 1
};

// How the job's sites ended.
struct JobOutcome {
  std::vector<std::string> CompletedSites;  // in the order they ended
  std::vector<std::string> FailedSites;     // in the order they ended
  // The reason SiteFailed received, one entry per entry of FailedSites (same
  // index); the report lists it beside the failed site.
  std::vector<std::string> FailedReasons;
  // The job was cut short (a crash, a kill) and finished after a restart.
  bool Resumed = false;
};

struct JobState {
  std::string PressReleaseName;
  std::vector<std::string> PendingSites;  // sites not yet run, schedule order
  PressRelease release;
  SiteRun site;
  JobOutcome outcome;

  double PageDeadline = 0.0;  // day number
  bool JobRunning = false;
  bool PageWaitOver = false;
  bool AwaitRedirect = false;
};

}  // namespace veltrane
