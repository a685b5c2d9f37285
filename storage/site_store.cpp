// The subscription table (the sites) and the account table (their logins).
#include "storage/store_database.h"

namespace veltrane {
namespace {

bool SiteExists(sql::Session& db, const std::string& site) {
  return !db.Query("SELECT 1 FROM subscription WHERE name = ?", {site}).Empty();
}

std::optional<AccountSummary> AccountOf(sql::Session& db, const std::string& site) {
  const sql::Rows row = db.Query("SELECT username, password FROM account WHERE name = ?", {site});
  if (row.Empty()) return std::nullopt;
  return AccountSummary{row.Text(0, 0), !row.Text(0, 1).empty()};
}

class SitesOver : public SiteStore {
 public:
  SitesOver(DatabaseRef sites, DatabaseRef accounts)
      : sites_(std::move(sites)), accounts_(std::move(accounts)) {}

  std::optional<StoredRow> ReadSubscription(const std::string& site) override {
    return StoredRow::Read(*sites_, "SELECT * FROM subscription WHERE name = ?", site);
  }

  std::optional<StoredRow> ReadLogin(const std::string& site) override {
    return StoredRow::Read(*accounts_, "SELECT * FROM account WHERE name = ?", site);
  }

  bool Exists(const std::string& site) override {
    return SiteExists(*sites_->Open(sql::Access::Read), site);
  }

  std::optional<SiteEntry> Find(const std::string& site) override {
    const sql::Rows row =
        sites_->Open(sql::Access::Read)
            ->Query("SELECT url, submission_data FROM subscription WHERE name = ?", {site});
    if (row.Empty()) return std::nullopt;
    return SiteEntry{site, row.Text(0, 0), row.Text(0, 1),
                     AccountOf(*accounts_->Open(sql::Access::Read), site)};
  }

  std::optional<std::string> Script(const std::string& site) override {
    const sql::Rows row =
        sites_->Open(sql::Access::Read)
            ->Query("SELECT submission_data FROM subscription WHERE name = ?", {site});
    if (row.Empty()) return std::nullopt;
    return row.Text(0, 0);
  }

  std::vector<SiteEntry> List() override {
    const auto sites = sites_->Open(sql::Access::Read);
    const auto accounts = accounts_->Open(sql::Access::Read);
    const sql::Rows rows =
        sites->Query("SELECT name, url, submission_data FROM subscription ORDER BY name");
    std::vector<SiteEntry> entries;
    for (int row = 0; row < rows.Count(); ++row)
      entries.push_back({rows.Text(row, 0), rows.Text(row, 1), rows.Text(row, 2),
                         AccountOf(*accounts, rows.Text(row, 0))});
    return entries;
  }

  std::vector<std::string> Names() override {
    const sql::Rows rows =
        sites_->Open(sql::Access::Read)->Query("SELECT name FROM subscription ORDER BY name");
    std::vector<std::string> names;
    for (int row = 0; row < rows.Count(); ++row) names.push_back(rows.Text(row, 0));
    return names;
  }

  bool Add(const std::string& site, const std::string& url, const std::string& script) override {
    const auto db = sites_->Open(sql::Access::Write);
    sql::Transaction transaction(*db);
    if (SiteExists(*db, site)) return false;
    try {
      db->Execute("INSERT INTO subscription (name, url, submission_data) VALUES (?, ?, ?)",
                  {site, url, script});
    } catch (const StorageError& error) {
      // Added by another instance of a shared store meanwhile.
      if (error.What() == StorageError::Kind::Refused) return false;
      throw;
    }
    transaction.Commit();
    return true;
  }

  bool Update(const std::string& site, const std::optional<std::string>& url,
              const std::optional<std::string>& script) override {
    // A value not given (NULL) keeps the stored one.
    const auto db = sites_->Open(sql::Access::Write);
    return db->Execute(
               "UPDATE subscription SET url = COALESCE(?, url), "
               "submission_data = COALESCE(?, submission_data) WHERE name = ?",
               {url, script, site}) > 0;
  }

  std::optional<AccountSummary> FindAccount(const std::string& site) override {
    return AccountOf(*accounts_->Open(sql::Access::Read), site);
  }

  void SetAccount(const std::string& site, const std::string& user,
                  const std::string& password) override {
    const auto db = accounts_->Open(sql::Access::Write);
    sql::Transaction transaction(*db);
    if (db->Execute("UPDATE account SET username = ?, password = ? WHERE name = ?",
                    {user, password, site}) == 0)
      db->Execute("INSERT INTO account (name, username, password) VALUES (?, ?, ?)",
                  {site, user, password});
    transaction.Commit();
  }

  void CheckSites() override { sites_->Open(sql::Access::Read)->RequireTables({"subscription"}); }
  void CheckAccounts() override { accounts_->Open(sql::Access::Read)->RequireTables({"account"}); }

 private:
  DatabaseRef sites_;
  DatabaseRef accounts_;
};

}  // namespace

std::unique_ptr<SiteStore> MakeSiteStore(DatabaseRef sites, DatabaseRef accounts) {
  return std::make_unique<SitesOver>(std::move(sites), std::move(accounts));
}

}  // namespace veltrane
