// The schedule table of db/vt.dat, and the queued-job rows of the journal
// that a schedule's next-run write records.
#include "platform/text_lists.h"
#include "storage/sqlite_file.h"

namespace veltrane {
namespace {

class SqliteScheduleStore : public ScheduleStore {
 public:
  SqliteScheduleStore(std::string path, SqliteStoreOptions options)
      : file_(std::move(path), options) {}

  std::optional<DueSchedule> FirstDue(
      double now, const std::function<bool(const DueSchedule&)>& take) override {
    sqlite::Connection db = file_.ForReading();
    // Only rows with an integer id are due (a NULL or text id could never be
    // advanced), and the longest-due goes first, so one bad row cannot starve
    // the others.
    sqlite::Statement query(
        db, "SELECT * FROM schedule WHERE next < ? AND typeof(id) = 'integer' ORDER BY next",
        {now});
    while (query.Step()) {
      DueSchedule due;
      due.id = Integer(query, "id");
      // Read with every row, as the service always has, though not used.
      query.ColumnIndex("name");
      due.frequency = static_cast<int>(Integer(query, "frequency"));
      Integer(query, "start_date");
      Integer(query, "end_date");
      due.time = query.Real(query.ColumnIndex("time"));
      if (take(due)) return due;
    }
    return std::nullopt;
  }

  bool AdvanceNextRun(ScheduleId id, double next, double now) override {
    sqlite::Connection db = file_.ForWriting();
    db.Execute(JobJournalSchema());
    sqlite::Transaction transaction(db);
    sqlite::Statement(db, "UPDATE schedule SET next = ? WHERE id = ?", {next, id}).Run();
    sqlite::Statement pending(
        db, "SELECT count(*) FROM job WHERE schedule_id = ? AND finished IS NULL", {id});
    const bool alreadyPending = pending.Step() && pending.Integer(0) > 0;
    if (!alreadyPending)
      sqlite::Statement(db, "INSERT INTO job (schedule_id,queued) VALUES (?,?)", {id, now}).Run();
    transaction.Commit();
    return !alreadyPending;
  }

  std::optional<ScheduleRow> Find(ScheduleId id) override {
    const char* sql = "SELECT name,subscription FROM schedule WHERE id = ?";
    return NamingStatement(sql, {id}, [&]() -> std::optional<ScheduleRow> {
      sqlite::Connection db = file_.ForReading();
      sqlite::Statement query(db, sql, {id});
      if (!query.Step()) return std::nullopt;
      ScheduleRow row;
      row.name = query.Text(query.ColumnIndex("name"));
      row.sites = SplitLines(query.Text(query.ColumnIndex("subscription")));
      return row;
    });
  }

  std::vector<ScheduleEntry> List() override {
    sqlite::Connection db = file_.ForReading();
    sqlite::Statement query(
        db, "SELECT id, name, subscription, frequency, time, next FROM schedule ORDER BY next, id");
    std::vector<ScheduleEntry> entries;
    while (query.Step()) {
      ScheduleEntry entry;
      entry.id = query.Text(0);
      entry.name = query.Text(1);
      entry.sites = SplitLines(query.Text(2));
      entry.frequency = static_cast<int>(query.Integer(3));
      entry.time = query.Real(4);
      if (!query.IsNull(5)) entry.next = query.Real(5);
      entries.push_back(std::move(entry));
    }
    return entries;
  }

  ScheduleId Add(const NewSchedule& schedule) override {
    sqlite::Connection db = file_.ForWriting();
    sqlite::Transaction transaction(db);
    sqlite::Statement nextId(db, "SELECT IFNULL(MAX(CAST(id AS INTEGER)), 0) + 1 FROM schedule");
    nextId.Step();
    const ScheduleId id = nextId.Integer(0);
    const std::string subscription = LinesText(schedule.sites);
    sqlite::Statement(
        db,
        "INSERT INTO schedule (id, name, subscription, frequency, time, next) "
        "VALUES (?, ?, ?, ?, ?, ?)",
        {id, schedule.release, subscription, schedule.frequency, schedule.time, schedule.next})
        .Run();
    transaction.Commit();
    return id;
  }

  bool SetNextRun(ScheduleId id, double next) override {
    sqlite::Connection db = file_.ForWriting();
    sqlite::Transaction transaction(db);
    sqlite::Statement(db, "UPDATE schedule SET next = ? WHERE id = ?", {next, id}).Run();
    if (db.Changes() == 0) return false;
    transaction.Commit();
    return true;
  }

  void Check() override { file_.Check({"schedule"}); }

 private:
  // NULL reads as 0.
  static std::int64_t Integer(const sqlite::Statement& query, const char* column) {
    return query.Integer(query.ColumnIndex(column));
  }

  SqliteFile file_;
};

}  // namespace

std::unique_ptr<ScheduleStore> MakeSqliteScheduleStore(std::string mainPath,
                                                       SqliteStoreOptions options) {
  return std::make_unique<SqliteScheduleStore>(std::move(mainPath), options);
}

}  // namespace veltrane
