// The pressrelease table of db/vt.dat.
#include "storage/sqlite_file.h"

namespace veltrane {
namespace {

class SqlitePressReleaseStore : public PressReleaseStore {
 public:
  SqlitePressReleaseStore(std::string path, SqliteStoreOptions options)
      : file_(std::move(path), options) {}

  bool Read(const std::string& name, std::int32_t today, PressRelease& release) override {
    // Whole rows: a table with further columns reads as well.
    const char* sql = "SELECT * FROM pressrelease WHERE name = ?";
    return NamingStatement(sql, {name}, [&] {
      sqlite::Connection db = file_.ForReading();
      sqlite::Statement query(db, sql, {name});
      if (!query.Step()) return false;
      release.Name = name;
      StatementRow row(query);
      ReadPressReleaseRow(row, today, release);
      return true;
    });
  }

  bool Exists(const std::string& name) override {
    sqlite::Connection db = file_.ForReading();
    return Exists(db, name);
  }

  std::vector<ReleaseEntry> List() override {
    sqlite::Connection db = file_.ForReading();
    sqlite::Statement query(db,
                            "SELECT name, release_date, headline FROM pressrelease ORDER BY name");
    std::vector<ReleaseEntry> entries;
    while (query.Step()) {
      ReleaseEntry entry{query.Text(0), std::nullopt, query.Text(2)};
      if (!query.IsNull(1)) entry.releaseDate = static_cast<std::int32_t>(query.Integer(1));
      entries.push_back(std::move(entry));
    }
    return entries;
  }

  bool Add(const PressRelease& release) override {
    sqlite::Connection db = file_.ForWriting();
    sqlite::Transaction transaction(db);
    if (Exists(db, release.Name)) return false;
    Write(db,
          "INSERT INTO pressrelease (contact_data,headline,summary,keyword,category,release_date,"
          "news_body,about_company,contact_detail,extra_data,name) VALUES (?,?,?,?,?,?,?,?,?,?,?)",
          release);
    transaction.Commit();
    return true;
  }

  bool Update(const PressRelease& release) override {
    sqlite::Connection db = file_.ForWriting();
    sqlite::Transaction transaction(db);
    if (!Exists(db, release.Name)) return false;
    Write(db,
          "UPDATE pressrelease SET contact_data = ?, headline = ?, summary = ?, keyword = ?, "
          "category = ?, release_date = ?, news_body = ?, about_company = ?, contact_detail = ?, "
          "extra_data = ? WHERE name = ?",
          release);
    transaction.Commit();
    return true;
  }

  void Check() override { file_.Check({"pressrelease"}); }

 private:
  static bool Exists(sqlite::Connection& db, const std::string& name) {
    return sqlite::Statement(db, "SELECT 1 FROM pressrelease WHERE name = ?", {name}).Step();
  }

  // Runs `sql` with the release's columns in the order above, then its name.
  static void Write(sqlite::Connection& db, const char* sql, const PressRelease& release) {
    const std::string contactData = ContactDataText(release);
    const std::string keyword = KeywordText(release);
    const std::string extraData = ExtraDataText(release);
    const sqlite::Value releaseDate = release.ReleaseDateGiven
                                          ? sqlite::Value(std::int64_t{release.ReleaseDate})
                                          : sqlite::Value(nullptr);
    sqlite::Statement(
        db, sql,
        {contactData, release.Headline, release.Summary, keyword, release.Category, releaseDate,
         release.NewsBody, release.AboutCompany, release.ContactDetail, extraData, release.Name})
        .Run();
  }

  SqliteFile file_;
};

}  // namespace

std::unique_ptr<PressReleaseStore> MakeSqlitePressReleaseStore(std::string mainPath,
                                                               SqliteStoreOptions options) {
  return std::make_unique<SqlitePressReleaseStore>(std::move(mainPath), options);
}

}  // namespace veltrane
