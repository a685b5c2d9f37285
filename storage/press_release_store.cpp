// The pressrelease table.
#include "storage/press_release_columns.h"
#include "storage/store_database.h"

namespace veltrane {
namespace {

bool ReleaseExists(sql::Session& db, const std::string& name) {
  return !db.Query("SELECT 1 FROM pressrelease WHERE name = ?", {name}).Empty();
}

// Runs `sql` with the release's columns in the order below, then its name.
void Write(sql::Session& db, const char* sql, const PressRelease& release) {
  db.Execute(sql, {ContactDataText(release), release.Headline, release.Summary,
                   KeywordText(release), release.Category,
                   release.ReleaseDateGiven ? sql::Value(std::int64_t{release.ReleaseDate})
                                            : sql::Value(nullptr),
                   release.NewsBody, release.AboutCompany, release.ContactDetail,
                   ExtraDataText(release), release.Name});
}

class ReleasesOver : public PressReleaseStore {
 public:
  explicit ReleasesOver(DatabaseRef database) : database_(std::move(database)) {}

  std::optional<StoredRow> ReadRow(const std::string& name) override {
    // Whole rows: a table with further columns reads as well.
    return StoredRow::Read(*database_, "SELECT * FROM pressrelease WHERE name = ?", name);
  }

  bool Exists(const std::string& name) override {
    return ReleaseExists(*database_->Open(sql::Access::Read), name);
  }

  std::vector<ReleaseEntry> List() override {
    const sql::Rows rows =
        database_->Open(sql::Access::Read)
            ->Query("SELECT name, release_date, headline FROM pressrelease ORDER BY name");
    std::vector<ReleaseEntry> entries;
    for (int row = 0; row < rows.Count(); ++row) {
      ReleaseEntry entry{rows.Text(row, 0), std::nullopt, rows.Text(row, 2)};
      if (!rows.IsNull(row, 1)) entry.releaseDate = static_cast<std::int32_t>(rows.Integer(row, 1));
      entries.push_back(std::move(entry));
    }
    return entries;
  }

  bool Add(const PressRelease& release) override {
    const auto db = database_->Open(sql::Access::Write);
    sql::Transaction transaction(*db);
    if (ReleaseExists(*db, release.Name)) return false;
    Write(*db,
          "INSERT INTO pressrelease (contact_data,headline,summary,keyword,category,release_date,"
          "news_body,about_company,contact_detail,extra_data,name) VALUES (?,?,?,?,?,?,?,?,?,?,?)",
          release);
    transaction.Commit();
    return true;
  }

  bool Update(const PressRelease& release) override {
    const auto db = database_->Open(sql::Access::Write);
    sql::Transaction transaction(*db);
    if (!ReleaseExists(*db, release.Name)) return false;
    Write(*db,
          "UPDATE pressrelease SET contact_data = ?, headline = ?, summary = ?, keyword = ?, "
          "category = ?, release_date = ?, news_body = ?, about_company = ?, contact_detail = ?, "
          "extra_data = ? WHERE name = ?",
          release);
    transaction.Commit();
    return true;
  }

  void Check() override { database_->Open(sql::Access::Read)->RequireTables({"pressrelease"}); }

 private:
  DatabaseRef database_;
};

}  // namespace

std::unique_ptr<PressReleaseStore> MakePressReleaseStore(DatabaseRef database) {
  return std::make_unique<ReleasesOver>(std::move(database));
}

}  // namespace veltrane
