// The press-release and site stores over a PostgreSQL server.
#include "storage/postgres/pg_store_access.h"
#include "storage/postgres/pg_stores.h"
#include "storage/press_release_columns.h"

namespace veltrane {
namespace {

using pg::Param;
using pg::WithConnection;

// Columns of a result's first row by name.
class ResultRow : public RowReader {
 public:
  explicit ResultRow(const PgResult& result) : result_(result) {}
  std::string Text(const char* column) override { return result_.Text(0, Index(column)); }
  std::optional<std::int64_t> Integer(const char* column) override {
    const int index = Index(column);
    if (result_.IsNull(0, index)) return std::nullopt;
    return result_.Integer(0, index);
  }

 private:
  int Index(const char* column) const {
    const int index = result_.Column(column);
    if (index < 0) throw StorageError(StorageError::kLayerError, "Invalid field name requested");
    return index;
  }
  const PgResult& result_;
};

class PgPressReleaseStore : public PressReleaseStore {
 public:
  explicit PgPressReleaseStore(std::string url) : url_(std::move(url)) {}

  bool Read(const std::string& name, std::int32_t today, PressRelease& release) override {
    return WithConnection(url_, [&](PgDatabase& db) {
      const PgResult row = db.Execute("SELECT * FROM pressrelease WHERE name = $1", {name});
      if (row.Rows() == 0) return false;
      release.Name = name;
      ResultRow reader(row);
      ReadPressReleaseRow(reader, today, release);
      return true;
    });
  }

  bool Exists(const std::string& name) override {
    return WithConnection(url_, [&](PgDatabase& db) { return Exists(db, name); });
  }

  std::vector<ReleaseEntry> List() override {
    return WithConnection(url_, [&](PgDatabase& db) {
      const PgResult rows =
          db.Execute("SELECT name, release_date, headline FROM pressrelease ORDER BY name");
      std::vector<ReleaseEntry> entries;
      for (int row = 0; row < rows.Rows(); ++row) {
        ReleaseEntry entry{rows.Text(row, 0), std::nullopt, rows.Text(row, 2)};
        if (!rows.IsNull(row, 1))
          entry.releaseDate = static_cast<std::int32_t>(rows.Integer(row, 1));
        entries.push_back(std::move(entry));
      }
      return entries;
    });
  }

  bool Add(const PressRelease& release) override {
    return WithConnection(url_, [&](PgDatabase& db) {
      PgTransaction transaction(db);
      if (Exists(db, release.Name)) return false;
      Write(db,
            "INSERT INTO pressrelease (contact_data,headline,summary,keyword,category,"
            "release_date,news_body,about_company,contact_detail,extra_data,name) "
            "VALUES ($1,$2,$3,$4,$5,$6,$7,$8,$9,$10,$11)",
            release);
      transaction.Commit();
      return true;
    });
  }

  bool Update(const PressRelease& release) override {
    return WithConnection(url_, [&](PgDatabase& db) {
      PgTransaction transaction(db);
      if (!Exists(db, release.Name)) return false;
      Write(db,
            "UPDATE pressrelease SET contact_data = $1, headline = $2, summary = $3, "
            "keyword = $4, category = $5, release_date = $6, news_body = $7, "
            "about_company = $8, contact_detail = $9, extra_data = $10 WHERE name = $11",
            release);
      transaction.Commit();
      return true;
    });
  }

  void Check() override {
    WithConnection(url_, [](PgDatabase& db) { db.Execute("SELECT 1 FROM pressrelease LIMIT 1"); });
  }

 private:
  static bool Exists(PgDatabase& db, const std::string& name) {
    return db.Execute("SELECT 1 FROM pressrelease WHERE name = $1", {name}).Rows() > 0;
  }

  static void Write(PgDatabase& db, const char* sql, const PressRelease& release) {
    const PgParam releaseDate =
        release.ReleaseDateGiven ? PgParam(Param(std::int64_t{release.ReleaseDate})) : std::nullopt;
    db.Execute(sql,
               {ContactDataText(release), release.Headline, release.Summary, KeywordText(release),
                release.Category, releaseDate, release.NewsBody, release.AboutCompany,
                release.ContactDetail, ExtraDataText(release), release.Name});
  }

  std::string url_;
};

class PgSiteStore : public SiteStore {
 public:
  explicit PgSiteStore(std::string url) : url_(std::move(url)) {}

  bool ReadSubscription(const std::string& site, SiteRun& run, std::string& extraData) override {
    return WithConnection(url_, [&](PgDatabase& db) {
      const PgResult row = db.Execute("SELECT * FROM subscription WHERE name = $1", {site});
      if (row.Rows() == 0) return false;
      ResultRow reader(row);
      run.SiteUrl = reader.Text("url");
      run.SiteScript = reader.Text("submission_data");
      const int extra = row.Column("extra_data");
      extraData = extra < 0 ? "" : row.Text(0, extra);
      return true;
    });
  }

  bool ReadLogin(const std::string& site, SiteLogin& login) override {
    return WithConnection(url_, [&](PgDatabase& db) {
      const PgResult row = db.Execute("SELECT * FROM account WHERE name = $1", {site});
      if (row.Rows() == 0) return false;
      ResultRow reader(row);
      login.UserName = reader.Text("username");
      login.Password = reader.Text("password");
      return true;
    });
  }

  bool Exists(const std::string& site) override {
    return WithConnection(url_, [&](PgDatabase& db) { return Exists(db, site); });
  }

  std::optional<SiteEntry> Find(const std::string& site) override {
    return WithConnection(url_, [&](PgDatabase& db) -> std::optional<SiteEntry> {
      const PgResult row =
          db.Execute("SELECT url, submission_data FROM subscription WHERE name = $1", {site});
      if (row.Rows() == 0) return std::nullopt;
      return SiteEntry{site, row.Text(0, 0), row.Text(0, 1), FindAccount(db, site)};
    });
  }

  std::vector<SiteEntry> List() override {
    return WithConnection(url_, [&](PgDatabase& db) {
      const PgResult rows =
          db.Execute("SELECT name, url, submission_data FROM subscription ORDER BY name");
      std::vector<SiteEntry> entries;
      for (int row = 0; row < rows.Rows(); ++row)
        entries.push_back({rows.Text(row, 0), rows.Text(row, 1), rows.Text(row, 2),
                           FindAccount(db, rows.Text(row, 0))});
      return entries;
    });
  }

  bool Add(const std::string& site, const std::string& url, const std::string& script) override {
    return WithConnection(url_, [&](PgDatabase& db) {
      return db.Execute(
                   "INSERT INTO subscription (name, url, submission_data) VALUES ($1, $2, $3) "
                   "ON CONFLICT (name) DO NOTHING",
                   {site, url, script})
                 .Changes() == 1;
    });
  }

  bool Update(const std::string& site, const std::optional<std::string>& url,
              const std::optional<std::string>& script) override {
    return WithConnection(url_, [&](PgDatabase& db) {
      return db.Execute(
                   "UPDATE subscription SET url = COALESCE($1, url), "
                   "submission_data = COALESCE($2, submission_data) WHERE name = $3",
                   {url, script, site})
                 .Changes() > 0;
    });
  }

  std::optional<AccountSummary> FindAccount(const std::string& site) override {
    return WithConnection(url_, [&](PgDatabase& db) { return FindAccount(db, site); });
  }

  void SetAccount(const std::string& site, const std::string& user,
                  const std::string& password) override {
    WithConnection(url_, [&](PgDatabase& db) {
      PgTransaction transaction(db);
      if (db.Execute("UPDATE account SET username = $1, password = $2 WHERE name = $3",
                     {user, password, site})
              .Changes() == 0)
        db.Execute("INSERT INTO account (name, username, password) VALUES ($1, $2, $3)",
                   {site, user, password});
      transaction.Commit();
    });
  }

  void CheckSites() override {
    WithConnection(url_, [](PgDatabase& db) { db.Execute("SELECT 1 FROM subscription LIMIT 1"); });
  }
  void CheckAccounts() override {
    WithConnection(url_, [](PgDatabase& db) { db.Execute("SELECT 1 FROM account LIMIT 1"); });
  }

 private:
  static bool Exists(PgDatabase& db, const std::string& site) {
    return db.Execute("SELECT 1 FROM subscription WHERE name = $1", {site}).Rows() > 0;
  }

  static std::optional<AccountSummary> FindAccount(PgDatabase& db, const std::string& site) {
    const PgResult row =
        db.Execute("SELECT username, password FROM account WHERE name = $1", {site});
    if (row.Rows() == 0) return std::nullopt;
    return AccountSummary{row.Text(0, 0), !row.Text(0, 1).empty()};
  }

  std::string url_;
};

}  // namespace

std::unique_ptr<PressReleaseStore> MakePgPressReleaseStore(std::string url) {
  return std::make_unique<PgPressReleaseStore>(std::move(url));
}

std::unique_ptr<SiteStore> MakePgSiteStore(std::string url) {
  return std::make_unique<PgSiteStore>(std::move(url));
}

}  // namespace veltrane
