// The running job as plain data, in the parts that different code needs: the
// press release with its derived values (read by placeholders and list
// choices), the current site's run (address, script, login, step), and the
// job's outcome (a record of each site that ended). JobState puts them
// together with the job's own flags. The browser window's job owns one for
// the life of the program; the loaders, the report, the script reader, the
// step engine and the form filler read and write it on the user-interface
// thread only. Nothing here locks or frees.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/site_record.h"
#include "model/step_value.h"

namespace veltrane {

// A press release: the values of its pressrelease row, and the texts the
// service derives from them when it loads the release for a job (keywords
// joined, the body with <BR> line breaks, the full text). veltrane-admin's
// release file reads and writes the same type; a release parsed from a file
// has no derived texts until it is loaded.
struct PressRelease {
  std::string Name;

  // Contact values (contact_data name=value lookups; kContactFields).
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
  // contact_data lines that no contact value takes (an unknown name, a name
  // given again, a line without "="): the service ignores them.
  std::vector<std::string> UnusedContactLines;

  std::string Headline;
  std::string Summary;
  std::vector<std::string> Keywords;  // keyword lines, in order
  std::string KeywordsComma;
  std::string KeywordsSpace;
  std::string Category;
  std::int32_t ReleaseDate = 0;   // whole day number
  bool ReleaseDateGiven = false;  // false: the row has none, and a job takes the day it runs
  std::string NewsBody;
  std::string NewsBodyHtml;
  std::string AboutCompany;
  std::string ContactDetail;
  std::string FullText;
  std::vector<std::string> SiteCategories;  // extra_data lines: site=category

  bool operator==(const PressRelease&) const = default;
};

// The names of the contact values in contact_data, in the order a release
// file and a new contact_data list them, each with its field.
struct ContactField {
  std::string_view name;
  std::string PressRelease::*field;
};
inline constexpr std::array<ContactField, 11> kContactFields = {{
    {"company_name", &PressRelease::CompanyName},
    {"contact_person", &PressRelease::ContactPerson},
    {"email", &PressRelease::Email},
    {"website", &PressRelease::Website},
    {"country", &PressRelease::Country},
    {"phonenumber", &PressRelease::PhoneNumber},
    {"fax", &PressRelease::Fax},
    {"street_address", &PressRelease::StreetAddress},
    {"city", &PressRelease::City},
    {"state", &PressRelease::State},
    {"zipcode", &PressRelease::ZipCode},
}};

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
  std::vector<StepValue> StepValues;  // the current step's keys and values
  std::int32_t StepNumber = 0;        // current step, from 1
};

// How the job's sites ended: one record per site run, in the order they
// ended, each with its reason and evidence. The lists the report writes are
// read from it.
struct JobOutcome {
  std::vector<SiteRecord> Sites;
  // The job was cut short (a crash, a kill) and finished after a restart.
  bool Resumed = false;

  // The names of the sites that ended as succeeded, in the order they ended.
  std::vector<std::string> CompletedSites() const { return Names(true); }
  // The same for the sites that failed.
  std::vector<std::string> FailedSites() const { return Names(false); }
  // The reason each failed site received, one per entry of FailedSites.
  std::vector<std::string> FailedReasons() const {
    std::vector<std::string> reasons;
    for (const SiteRecord& record : Sites)
      if (!record.completed) reasons.push_back(record.reason);
    return reasons;
  }

 private:
  std::vector<std::string> Names(bool completed) const {
    std::vector<std::string> names;
    for (const SiteRecord& record : Sites)
      if (record.completed == completed) names.push_back(record.site);
    return names;
  }
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
