// The subscription table of db/subscription2.dat and the account table of db/vt.dat.
#include "storage/sqlite_file.h"

namespace veltrane {
namespace {

class SqliteSiteStore : public SiteStore {
 public:
  SqliteSiteStore(DatabasePaths paths, SqliteStoreOptions options)
      : sites_(std::move(paths.subscription), options), accounts_(std::move(paths.main), options) {}

  bool ReadSubscription(const std::string& site, SiteRun& run, std::string& extraData) override {
    const char* sql = "SELECT * FROM subscription WHERE name = ?";
    return NamingStatement(sql, {site}, [&] {
      sqlite::Connection db = sites_.ForReading();
      sqlite::Statement query(db, sql, {site});
      if (!query.Step()) return false;
      StatementRow row(query);
      run.SiteUrl = row.Text("url");
      run.SiteScript = row.Text("submission_data");
      // Only for the job's trace; a table without the column reads as "".
      const int extra = query.FindColumn("extra_data");
      extraData = extra < 0 ? "" : query.Text(extra);
      return true;
    });
  }

  bool ReadLogin(const std::string& site, SiteLogin& login) override {
    const char* sql = "SELECT * FROM account WHERE name = ?";
    return NamingStatement(sql, {site}, [&] {
      sqlite::Connection db = accounts_.ForReading();
      sqlite::Statement query(db, sql, {site});
      if (!query.Step()) return false;
      StatementRow row(query);
      login.UserName = row.Text("username");
      login.Password = row.Text("password");
      return true;
    });
  }

  bool Exists(const std::string& site) override {
    sqlite::Connection db = sites_.ForReading();
    return Exists(db, site);
  }

  std::optional<SiteEntry> Find(const std::string& site) override {
    sqlite::Connection db = sites_.ForReading();
    sqlite::Statement query(db, "SELECT url, submission_data FROM subscription WHERE name = ?",
                            {site});
    if (!query.Step()) return std::nullopt;
    sqlite::Connection accounts = accounts_.ForReading();
    return SiteEntry{site, query.Text(0), query.Text(1), FindAccount(accounts, site)};
  }

  std::optional<std::string> Script(const std::string& site) override {
    sqlite::Connection db = sites_.ForReading();
    sqlite::Statement query(db, "SELECT submission_data FROM subscription WHERE name = ?", {site});
    if (!query.Step()) return std::nullopt;
    return query.Text(0);
  }

  std::vector<SiteEntry> List() override {
    sqlite::Connection db = sites_.ForReading();
    sqlite::Connection accounts = accounts_.ForReading();
    sqlite::Statement query(db,
                            "SELECT name, url, submission_data FROM subscription ORDER BY name");
    std::vector<SiteEntry> entries;
    while (query.Step())
      entries.push_back(
          {query.Text(0), query.Text(1), query.Text(2), FindAccount(accounts, query.Text(0))});
    return entries;
  }

  bool Add(const std::string& site, const std::string& url, const std::string& script) override {
    sqlite::Connection db = sites_.ForWriting();
    sqlite::Transaction transaction(db);
    if (Exists(db, site)) return false;
    sqlite::Statement(db, "INSERT INTO subscription (name, url, submission_data) VALUES (?, ?, ?)",
                      {site, url, script})
        .Run();
    transaction.Commit();
    return true;
  }

  bool Update(const std::string& site, const std::optional<std::string>& url,
              const std::optional<std::string>& script) override {
    sqlite::Connection db = sites_.ForWriting();
    sqlite::Transaction transaction(db);
    if (!Exists(db, site)) return false;
    if (url)
      sqlite::Statement(db, "UPDATE subscription SET url = ? WHERE name = ?", {*url, site}).Run();
    if (script)
      sqlite::Statement(db, "UPDATE subscription SET submission_data = ? WHERE name = ?",
                        {*script, site})
          .Run();
    transaction.Commit();
    return true;
  }

  std::optional<AccountSummary> FindAccount(const std::string& site) override {
    sqlite::Connection db = accounts_.ForReading();
    return FindAccount(db, site);
  }

  void SetAccount(const std::string& site, const std::string& user,
                  const std::string& password) override {
    sqlite::Connection db = accounts_.ForWriting();
    sqlite::Transaction transaction(db);
    sqlite::Statement(db, "UPDATE account SET username = ?, password = ? WHERE name = ?",
                      {user, password, site})
        .Run();
    if (db.Changes() == 0)
      sqlite::Statement(db, "INSERT INTO account (name, username, password) VALUES (?, ?, ?)",
                        {site, user, password})
          .Run();
    transaction.Commit();
  }

  void CheckSites() override { sites_.Check({"subscription"}); }
  void CheckAccounts() override { accounts_.Check({"account"}); }

 private:
  static bool Exists(sqlite::Connection& db, const std::string& site) {
    return sqlite::Statement(db, "SELECT 1 FROM subscription WHERE name = ?", {site}).Step();
  }

  static std::optional<AccountSummary> FindAccount(sqlite::Connection& db,
                                                   const std::string& site) {
    sqlite::Statement query(db, "SELECT username, password FROM account WHERE name = ?", {site});
    if (!query.Step()) return std::nullopt;
    return AccountSummary{query.Text(0), !query.Text(1).empty()};
  }

  SqliteFile sites_;
  SqliteFile accounts_;
};

}  // namespace

std::unique_ptr<SiteStore> MakeSqliteSiteStore(DatabasePaths paths, SqliteStoreOptions options) {
  return std::make_unique<SqliteSiteStore>(std::move(paths), options);
}

}  // namespace veltrane
