// The schedule table, and the queued-job rows of the journal that a
// schedule's next-run write records.
#include "platform/text_lists.h"
#include "storage/database_files.h"
#include "storage/schema.h"
#include "storage/store_database.h"

namespace veltrane {
namespace {

class SchedulesOver : public ScheduleStore {
 public:
  explicit SchedulesOver(DatabaseRef database) : database_(std::move(database)) {}

  std::optional<DueSchedule> FirstDue(
      double now, const std::function<bool(const DueSchedule&)>& take) override {
    const auto db = database_->Open(sql::Access::Read);
    // Only rows with an integer id are due (a NULL or text id could never be
    // advanced), and the longest-due goes first, so one bad row cannot starve
    // the others.
    const sql::Rows due = db->Query(
        "SELECT * FROM schedule WHERE next < ? AND " + db->IsInteger("id") + " ORDER BY next",
        {now});
    if (due.Empty()) return std::nullopt;
    const int id = due.ColumnIndex("id");
    // Read with every row, as the service always has, though not used.
    due.ColumnIndex("name");
    const int frequency = due.ColumnIndex("frequency");
    due.ColumnIndex("start_date");
    due.ColumnIndex("end_date");
    const int time = due.ColumnIndex("time");
    // A table made before schedules could be disabled has no such column.
    const int disabled = due.FindColumn("disabled");
    for (int row = 0; row < due.Count(); ++row) {
      if (disabled >= 0 && due.Integer(row, disabled) != 0) continue;
      // NULL reads as 0.
      const DueSchedule schedule{
          due.Integer(row, id), static_cast<int>(due.Integer(row, frequency)), due.Real(row, time)};
      if (take(schedule)) return schedule;
    }
    return std::nullopt;
  }

  bool AdvanceNextRun(ScheduleId id, double next, double now) override {
    const auto db = database_->Open(sql::Access::Write);
    if (db->Dialect() == sql::Dialect::Sqlite) db->ExecuteScript(JobJournalSchema());
    sql::Transaction transaction(*db);
    db->Execute("UPDATE schedule SET next = ? WHERE id = ?", {next, id});
    const bool pending =
        db->Query("SELECT count(*) FROM job WHERE schedule_id = ? AND finished IS NULL", {id})
            .Integer(0, 0) > 0;
    if (!pending) db->Execute("INSERT INTO job (schedule_id,queued) VALUES (?,?)", {id, now});
    transaction.Commit();
    return !pending;
  }

  std::optional<ScheduleRow> Find(ScheduleId id) override {
    const char* sql = "SELECT name,subscription FROM schedule WHERE id = ?";
    return sql::NamingStatement(sql, {id}, [&]() -> std::optional<ScheduleRow> {
      const sql::Rows row = database_->Open(sql::Access::Read)->Query(sql, {id});
      if (row.Empty()) return std::nullopt;
      return ScheduleRow{row.Text(0, row.ColumnIndex("name")),
                         SplitLines(row.Text(0, row.ColumnIndex("subscription")))};
    });
  }

  std::vector<ScheduleEntry> List() override {
    const auto db = database_->Open(sql::Access::Read);
    const bool marks = db->Columns("schedule").count("disabled") > 0;
    const sql::Rows rows =
        db->Query(std::string("SELECT id, name, subscription, frequency, time, next") +
                  (marks ? ", disabled" : "") + " FROM schedule ORDER BY next, id");
    std::vector<ScheduleEntry> entries;
    for (int row = 0; row < rows.Count(); ++row) {
      ScheduleEntry entry;
      entry.id = rows.Text(row, 0);
      entry.name = rows.Text(row, 1);
      entry.sites = SplitLines(rows.Text(row, 2));
      entry.frequency = static_cast<int>(rows.Integer(row, 3));
      entry.time = rows.Real(row, 4);
      if (!rows.IsNull(row, 5)) entry.next = rows.Real(row, 5);
      entry.disabled = marks && rows.Integer(row, 6) != 0;
      entries.push_back(std::move(entry));
    }
    return entries;
  }

  ScheduleId Add(const NewSchedule& schedule) override {
    const auto db = database_->Open(sql::Access::Write);
    sql::Transaction transaction(*db);
    // The next free id; the lock keeps two adding at once from taking the same.
    db->LockForAdding("schedule");
    const ScheduleId id =
        db->Query("SELECT COALESCE(MAX(CAST(id AS BIGINT)), 0) + 1 FROM schedule").Integer(0, 0);
    db->Execute(
        "INSERT INTO schedule (id, name, subscription, frequency, time, next) "
        "VALUES (?, ?, ?, ?, ?, ?)",
        {id, schedule.release, LinesText(schedule.sites), schedule.frequency, schedule.time,
         schedule.next});
    transaction.Commit();
    return id;
  }

  bool SetNextRun(ScheduleId id, double next) override {
    const auto db = database_->Open(sql::Access::Write);
    sql::Transaction transaction(*db);
    if (db->Execute("UPDATE schedule SET next = ? WHERE id = ?", {next, id}) == 0) return false;
    transaction.Commit();
    return true;
  }

  std::optional<ServerTime> ServerTimeBase() override {
    const auto db = database_->Open(sql::Access::Read);
    if (!db->Shared()) return std::nullopt;
    const sql::Rows row = db->Query(schema::kServerTimeQuery);
    return ServerTime{row.Text(0, 0), static_cast<int>(row.Integer(0, 1)), row.Real(0, 2)};
  }

  void Check() override { database_->Open(sql::Access::Read)->RequireTables({"schedule"}); }

 private:
  DatabaseRef database_;
};

}  // namespace

std::unique_ptr<ScheduleStore> MakeScheduleStore(DatabaseRef database) {
  return std::make_unique<SchedulesOver>(std::move(database));
}

}  // namespace veltrane
