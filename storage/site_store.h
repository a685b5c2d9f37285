// SiteStore: the sites (the subscription table: start address, step script)
// and their logins (the account table), as the job and veltrane-admin use
// them, whatever database holds them. Sites are found by name. Plain values
// in and out; every failure is a StorageError. One thread at a time; each
// call stands alone.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "storage/sql_session.h"
#include "storage/storage_error.h"
#include "storage/stored_row.h"

namespace veltrane {

struct AccountSummary {
  std::string user;
  bool hasPassword = false;
};

// A site as veltrane-admin shows it; the password never leaves the store here.
struct SiteEntry {
  std::string name;
  std::string url;
  std::string script;
  std::optional<AccountSummary> account;
};

class SiteStore {
 public:
  virtual ~SiteStore() = default;

  // The site's subscription row whole (url, submission_data and, where the
  // table has it, extra_data); none without its row.
  virtual std::optional<StoredRow> ReadSubscription(const std::string& site) = 0;
  // The site's account row whole (username, password); none without its row.
  virtual std::optional<StoredRow> ReadLogin(const std::string& site) = 0;

  virtual bool Exists(const std::string& site) = 0;
  virtual std::optional<SiteEntry> Find(const std::string& site) = 0;
  // The site's script alone: none without the site. Reads no account.
  virtual std::optional<std::string> Script(const std::string& site) {
    std::optional<SiteEntry> entry = Find(site);
    if (!entry) return std::nullopt;
    return std::move(entry->script);
  }
  // Every site, by name.
  virtual std::vector<SiteEntry> List() = 0;
  // Every site's name alone, by name: reads no script and no account.
  virtual std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (SiteEntry& entry : List()) names.push_back(std::move(entry.name));
    return names;
  }
  // False when the name is taken.
  virtual bool Add(const std::string& site, const std::string& url, const std::string& script) = 0;
  // Replaces what is given; false without the site.
  virtual bool Update(const std::string& site, const std::optional<std::string>& url,
                      const std::optional<std::string>& script) = 0;

  virtual std::optional<AccountSummary> FindAccount(const std::string& site) = 0;
  // Sets the site's login, adding its account row when there is none.
  virtual void SetAccount(const std::string& site, const std::string& user,
                          const std::string& password) = 0;

  // Throw when the sites, or the accounts, cannot be served at all.
  virtual void CheckSites() = 0;
  virtual void CheckAccounts() = 0;
};

}  // namespace veltrane
