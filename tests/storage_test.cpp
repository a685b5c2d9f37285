#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "storage/cppsqlite3.h"
#include "storage/database_files.h"
#include "storage/sql_session.h"
#include "storage/sqlite_core.h"
#include "tests/support/file_modes.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_database.h"
#include "tests/support/write_lock.h"

namespace veltrane {
namespace {

using namespace std::string_literals;
using testing::ModeOf;
using testing::ScopedUmask;
using testing::TempDir;
using testing::TestDatabases;
using testing::WriteLock;

// A database file with one small table, opened through the layer.
class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db.Open(path.c_str());
    db.RunStatement(
        "CREATE TABLE schedule (id INTEGER PRIMARY KEY, name TEXT, frequency INTEGER, time REAL);"
        "INSERT INTO schedule VALUES (1, 'Spring launch', 3, 0.25);"
        "INSERT INTO schedule VALUES (2, NULL, NULL, NULL);");
  }

  TempDir dir;
  std::string path = dir.File("vt.dat");
  CppSQLite3DB db;
};

// Runs `action` and returns the message of the CppSQLite3Exception it throws.
template <typename Action>
std::string ErrorOf(Action action, int* code = nullptr) {
  try {
    action();
  } catch (const CppSQLite3Exception& error) {
    if (code) *code = error.Code();
    return error.Message();
  }
  return "(nothing thrown)";
}

TEST(CppSQLite3ExceptionTest, MessageNamesTheCodeAndCopiesSurvive) {
  EXPECT_STREQ("CPPSQLITE_ERROR[1000]: Database not open",
               CppSQLite3Exception(1000, "Database not open").Message());
  EXPECT_STREQ("SQLITE_BUSY[5]: ", CppSQLite3Exception(5, nullptr).Message());
  EXPECT_STREQ("UNKNOWN_ERROR[42]: x", CppSQLite3Exception(42, "x").Message());
  EXPECT_STREQ("SQLITE_DONE[101]: d", CppSQLite3Exception(101, "d").Message());

  const auto original =
      std::make_unique<CppSQLite3Exception>(19, sqlite3_mprintf("%s", "taken and freed"), true);
  const CppSQLite3Exception copy(*original);
  EXPECT_STREQ("SQLITE_CONSTRAINT[19]: taken and freed", copy.Message());
  EXPECT_EQ(19, copy.Code());
}

TEST(CppSQLite3ExceptionTest, EveryCodeHasItsName) {
  const char* names[] = {
      "SQLITE_OK",       "SQLITE_ERROR",     "SQLITE_INTERNAL", "SQLITE_PERM",
      "SQLITE_ABORT",    "SQLITE_BUSY",      "SQLITE_LOCKED",   "SQLITE_NOMEM",
      "SQLITE_READONLY", "SQLITE_INTERRUPT", "SQLITE_IOERR",    "SQLITE_CORRUPT",
      "SQLITE_NOTFOUND", "SQLITE_FULL",      "SQLITE_CANTOPEN", "SQLITE_PROTOCOL",
      "SQLITE_EMPTY",    "SQLITE_SCHEMA",    "SQLITE_TOOBIG",   "SQLITE_CONSTRAINT",
      "SQLITE_MISMATCH", "SQLITE_MISUSE",    "SQLITE_NOLFS",    "SQLITE_AUTH",
      "SQLITE_FORMAT",   "SQLITE_RANGE"};
  for (int code = 0; code <= 25; ++code)
    EXPECT_STREQ(names[code], CppSQLite3Exception::CodeName(code)) << code;
  EXPECT_STREQ("SQLITE_ROW", CppSQLite3Exception::CodeName(100));
  EXPECT_STREQ("CPPSQLITE_ERROR", CppSQLite3Exception::CodeName(1000));
  EXPECT_STREQ("UNKNOWN_ERROR", CppSQLite3Exception::CodeName(26));
  EXPECT_STREQ("UNKNOWN_ERROR", CppSQLite3Exception::CodeName(-1));
}

TEST(CppSQLite3DBTest, ClosedOrNeverOpenedConnectionRefusesWork) {
  CppSQLite3DB never;
  int code = 0;
  EXPECT_EQ("CPPSQLITE_ERROR[1000]: Database not open",
            ErrorOf([&] { never.RunStatement("CREATE TABLE t (x)"); }, &code));
  EXPECT_EQ(1000, code);
  EXPECT_EQ("CPPSQLITE_ERROR[1000]: Database not open",
            ErrorOf([&] { never.RunQuery("SELECT 1"); }));
  never.Close();  // closing a closed connection does nothing
  never.Close();
}

TEST(CppSQLite3DBTest, OpenFailsWithTheLibrarysCodeWhenTheDirectoryIsMissing) {
  TempDir dir;
  CppSQLite3DB db;
  int code = 0;
  const std::string message =
      ErrorOf([&] { db.Open(dir.File("no-such-dir/vt.dat").c_str()); }, &code);
  EXPECT_EQ(SQLITE_CANTOPEN, code);
  EXPECT_EQ("SQLITE_CANTOPEN[14]: unable to open database file", message);
}

// The service may start before veltrane-admin init: the file it leaves must
// not show the passwords init will put there to other users.
TEST(CppSQLite3DBTest, MissingFileInAnExistingDirectoryIsCreatedEmptyAndPrivate) {
  TempDir dir;
  ScopedUmask usual(022);
  CppSQLite3DB db;
  db.Open(dir.File("vt.dat").c_str());
  EXPECT_EQ("SQLITE_ERROR[1]: no such table: schedule",
            ErrorOf([&] { db.RunQuery("SELECT * FROM schedule WHERE next < 45000"); }));
  EXPECT_EQ(0600, ModeOf(dir.File("vt.dat")));

  // The journal of an open transaction takes the file's mode.
  db.RunStatement("BEGIN; CREATE TABLE history (content TEXT); INSERT INTO history VALUES ('x')");
  EXPECT_EQ(0600, ModeOf(dir.File("vt.dat-journal")));
  db.RunStatement("COMMIT");

  // An existing file keeps its mode; tightening it is init's business.
  const std::string shared = dir.File("shared.dat");
  close(open(shared.c_str(), O_WRONLY | O_CREAT, 0644));
  CppSQLite3DB other;
  other.Open(shared.c_str());
  other.RunStatement("CREATE TABLE t (x)");
  EXPECT_EQ(0644, ModeOf(shared));
}

TEST_F(StorageTest, RunStatementCountsChangedRowsAndReportsSqliteErrors) {
  EXPECT_EQ(2, db.RunStatement("UPDATE schedule SET time = 0.5"));
  EXPECT_EQ(0, db.RunStatement("UPDATE schedule SET time = 0.5 WHERE id = 99"));
  int code = 0;
  EXPECT_EQ("SQLITE_ERROR[1]: near \"UPDAT\": syntax error",
            ErrorOf([&] { db.RunStatement("UPDAT schedule"); }, &code));
  EXPECT_EQ(1, code);
  EXPECT_EQ("SQLITE_CONSTRAINT[19]: UNIQUE constraint failed: schedule.id",
            ErrorOf([&] { db.RunStatement("INSERT INTO schedule (id) VALUES (1)"); }));
}

TEST_F(StorageTest, QueryWalksRowsAndReadsColumnsWithDefaultsForNull) {
  CppSQLite3Query query = db.RunQuery("SELECT * FROM schedule ORDER BY id");
  ASSERT_FALSE(query.AtEnd());
  EXPECT_EQ(4, query.ColumnCount());
  EXPECT_STREQ("1", query.TextOf("id"));  // an integer read as text
  EXPECT_STREQ("Spring launch", query.TextOf("name"));
  EXPECT_EQ(3, query.IntOf("frequency", 0));
  EXPECT_DOUBLE_EQ(0.25, query.RealOf("time", 0.0));
  EXPECT_EQ(SQLITE_INTEGER, query.ColumnType(0));

  query.Advance();
  ASSERT_FALSE(query.AtEnd());
  EXPECT_EQ(nullptr, query.TextOf("name"));
  EXPECT_EQ(0, query.IntOf("frequency", 0));
  EXPECT_EQ(-7, query.IntOf(2, -7));
  EXPECT_DOUBLE_EQ(0.0, query.RealOf("time", 0.0));
  EXPECT_DOUBLE_EQ(1.5, query.RealOf(3, 1.5));
  EXPECT_EQ(SQLITE_NULL, query.ColumnType(3));

  query.Advance();
  EXPECT_TRUE(query.AtEnd());
}

TEST_F(StorageTest, QueryWithoutRowsIsAtEndAtOnce) {
  CppSQLite3Query query = db.RunQuery("SELECT * FROM schedule WHERE id = 42");
  EXPECT_TRUE(query.AtEnd());
}

TEST_F(StorageTest, ColumnNamesAreCaseSensitiveAndIndexesRangeChecked) {
  CppSQLite3Query query = db.RunQuery("SELECT name, frequency FROM schedule");
  EXPECT_EQ("CPPSQLITE_ERROR[1000]: Invalid field name requested",
            ErrorOf([&] { query.ColumnIndex("Name"); }));
  EXPECT_EQ("CPPSQLITE_ERROR[1000]: Invalid field name requested",
            ErrorOf([&] { query.ColumnIndex(nullptr); }));
  EXPECT_EQ("CPPSQLITE_ERROR[1000]: Invalid field name requested",
            ErrorOf([&] { query.TextOf("time"); }));
  EXPECT_EQ(1, query.ColumnIndex("frequency"));
  EXPECT_EQ("CPPSQLITE_ERROR[1000]: Invalid field index requested",
            ErrorOf([&] { query.ColumnType(-1); }));
  EXPECT_EQ("CPPSQLITE_ERROR[1000]: Invalid field index requested",
            ErrorOf([&] { query.ColumnType(2); }));
  EXPECT_EQ("CPPSQLITE_ERROR[1000]: Invalid field index requested",
            ErrorOf([&] { query.IntOf(2, 0); }));
  EXPECT_EQ(SQLITE_INTEGER, query.ColumnType(1));
}

TEST_F(StorageTest, QueryWhoseStatementIsGoneRefusesEveryUse) {
  CppSQLite3Query query = db.RunQuery("SELECT * FROM schedule");
  query.Release();
  query.Release();  // twice does nothing
  for (auto use : {+[](CppSQLite3Query& q) { q.AtEnd(); }, +[](CppSQLite3Query& q) { q.Advance(); },
                   +[](CppSQLite3Query& q) { q.ColumnIndex("id"); },
                   +[](CppSQLite3Query& q) { q.ColumnType(0); }})
    EXPECT_EQ("CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer", ErrorOf([&] { use(query); }));
}

TEST_F(StorageTest, FailedQueryReportsTheSpecificCode) {
  int code = 0;
  EXPECT_EQ("SQLITE_ERROR[1]: no such column: nope",
            ErrorOf([&] { db.RunQuery("SELECT nope FROM schedule"); }, &code));
  EXPECT_EQ(1, code);
}

// abs() of the smallest integer fails at run time: the first row reads, the second does not.
constexpr const char* kFailsOnSecondRow =
    "SELECT CASE WHEN id = 2 THEN abs(-9223372036854775807 - 1) ELSE id END AS v "
    "FROM schedule ORDER BY id";

TEST_F(StorageTest, FailedAdvanceFinalisesAndLeavesNoStatement) {
  CppSQLite3Query query = db.RunQuery(kFailsOnSecondRow);
  ASSERT_FALSE(query.AtEnd());
  int code = 0;
  EXPECT_EQ("SQLITE_ERROR[1]: integer overflow", ErrorOf([&] { query.Advance(); }, &code));
  EXPECT_EQ(1, code);
  EXPECT_EQ("CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer", ErrorOf([&] { query.AtEnd(); }));
}

// Steps a legacy-prepared statement into a run-time error, leaving it unfinalised.
sqlite3_stmt* StatementWithPendingError(sqlite3* connection) {
  sqlite3_stmt* statement = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_prepare(connection, kFailsOnSecondRow, -1, &statement, nullptr));
  EXPECT_EQ(SQLITE_ROW, sqlite3_step(statement));
  EXPECT_EQ(SQLITE_ERROR, sqlite3_step(statement));
  return statement;
}

TEST_F(StorageTest, ReleaseThrowsTheFinaliseErrorButTheDestructorSwallowsIt) {
  sqlite3* raw = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &raw));
  {
    CppSQLite3Query query(raw, StatementWithPendingError(raw), false, true);
    EXPECT_EQ("SQLITE_ERROR[1]: integer overflow", ErrorOf([&] { query.Release(); }));
  }
  EXPECT_NO_THROW({ CppSQLite3Query query(raw, StatementWithPendingError(raw), false, true); });
  EXPECT_EQ(SQLITE_OK, sqlite3_close(raw));  // nothing left unfinalised
}

TEST_F(StorageTest, BytesCrossUnchanged) {
  const std::string stored = "Caf\xc3\xa9 \xe9t\xe9 \r\n\t\x01";  // UTF-8 and Latin-1 bytes mixed
  db.RunStatement(("UPDATE schedule SET name = '" + stored + "' WHERE id = 2").c_str());
  CppSQLite3Query query = db.RunQuery("SELECT name FROM schedule WHERE id = 2");
  EXPECT_EQ(stored, std::string(query.TextOf("name")));
  EXPECT_EQ(stored, query.BytesOf("name"));

  // A NUL byte ends the C string of TextOf, but not the bytes.
  CppSQLite3Query withNul = db.RunQuery("SELECT 'ab' || char(0) || 'cd' AS t, NULL AS n");
  EXPECT_EQ(std::string("ab\0cd", 5), withNul.BytesOf("t"));
  EXPECT_EQ("", withNul.BytesOf("n"));
}

TEST_F(StorageTest, BusyWaitAppliesAtOpenAndAtOnceWhenOpen) {
  WriteLock lock(path);
  ASSERT_TRUE(lock.Locked());

  CppSQLite3DB shortWait;
  shortWait.SetBusyWait(50);
  EXPECT_EQ(50, shortWait.BusyWait());
  shortWait.Open(path.c_str());
  int code = 0;
  EXPECT_EQ("SQLITE_BUSY[5]: database is locked",
            ErrorOf([&] { shortWait.RunStatement("UPDATE schedule SET time = 1"); }, &code));
  EXPECT_EQ(SQLITE_BUSY, code);

  // A long wait outlasts the lock, which is released while the statement waits.
  shortWait.SetBusyWait(60000);
  lock.ReleaseAfter(std::chrono::milliseconds(200));
  EXPECT_EQ(2, shortWait.RunStatement("UPDATE schedule SET time = 1"));
  EXPECT_EQ(CppSQLite3DB::kDefaultBusyWait, CppSQLite3DB().BusyWait());
}

TEST(DatabaseFiles, SchemasCreateEveryTableAndPathsSitBesideTheExecutable) {
  TempDir dir;
  CppSQLite3DB main;
  main.Open(dir.File("vt.dat").c_str());
  main.RunStatement(MainDatabaseSchema());
  main.RunStatement(MainDatabaseSchema());  // idempotent
  for (const char* table : {"schedule", "pressrelease", "account", "history"})
    EXPECT_NO_THROW(main.RunQuery((std::string("SELECT * FROM ") + table).c_str())) << table;

  CppSQLite3DB subscription;
  subscription.Open(dir.File("subscription2.dat").c_str());
  subscription.RunStatement(SubscriptionDatabaseSchema());
  EXPECT_NO_THROW(
      subscription.RunQuery("SELECT name,url,submission_data,extra_data FROM subscription"));

  const std::string mainPath = MainDatabasePath();
  EXPECT_EQ("/db/vt.dat", mainPath.substr(mainPath.size() - 10));
  EXPECT_EQ(mainPath.substr(0, mainPath.size() - 9) + "db/subscription2.dat",
            SubscriptionDatabasePath());
}

// ---- The SQLite core ----

// Runs `action` and returns the StorageError it throws.
template <typename Action>
StorageError StorageErrorOf(Action action) {
  try {
    action();
  } catch (const StorageError& error) {
    return error;
  }
  ADD_FAILURE() << "nothing thrown";
  return StorageError(0, "");
}

TEST(SqliteCoreTest, BoundTextsCrossWholeAndErrorsShowTheStatementAsItRan) {
  TempDir dir;
  sqlite::Connection db(dir.File("t.dat"), sqlite::OpenMode::Create);
  db.Execute("CREATE TABLE t (x)");
  const std::string stored = "a\0b'c\xe9"s;
  sqlite::Statement(db, "INSERT INTO t VALUES (?)", {stored}).Run();
  sqlite::Statement read(db, "SELECT x FROM t WHERE x = ?", {stored});
  ASSERT_TRUE(read.Step());
  EXPECT_EQ(stored, read.Text(0));

  EXPECT_EQ("SELECT 'it''s', '?', 1.5, 7, NULL",
            sqlite::ShownSql("SELECT ?, '?', ?, ?, ?", {"it's", 1.5, 7, nullptr}));
  const StorageError error =
      StorageErrorOf([&] { sqlite::Statement(db, "SELECT * FROM nope WHERE x = ?", {"v"}); });
  EXPECT_EQ("SELECT * FROM nope WHERE x = 'v'", error.Statement());
  EXPECT_STREQ("SQLITE_ERROR[1]: no such table: nope", error.Message());
  EXPECT_EQ(dir.File("t.dat"), error.Where());
  const StorageError column = StorageErrorOf([&] {
    sqlite::Statement query(db, "SELECT x FROM t");
    query.ColumnIndex("X");
  });
  EXPECT_STREQ("CPPSQLITE_ERROR[1000]: Invalid field name requested", column.Message());
}

// A statement as it ran writes each text between single quotes, doubling those only.
TEST(SqliteCoreTest, ShownTextsDoubleSingleQuotesOnly) {
  EXPECT_EQ("''", sql::Shown("?", {""}));
  EXPECT_EQ("'O''Brien'", sql::Shown("?", {"O'Brien"}));
  EXPECT_EQ("''''''", sql::Shown("?", {"''"}));
  EXPECT_EQ("'a\r\n\"b\"'", sql::Shown("?", {"a\r\n\"b\""}));
}

TEST(SqliteCoreTest, TransactionRollsBackUnlessCommitted) {
  TempDir dir;
  sqlite::Connection db(dir.File("t.dat"), sqlite::OpenMode::Create);
  db.Execute("CREATE TABLE t (x)");
  {
    sqlite::Transaction dropped(db);
    sqlite::Statement(db, "INSERT INTO t VALUES (1)").Run();
  }
  {
    sqlite::Transaction kept(db);
    sqlite::Statement(db, "INSERT INTO t VALUES (2)").Run();
    kept.Commit();
  }
  sqlite::Statement count(db, "SELECT group_concat(x) FROM t");
  ASSERT_TRUE(count.Step());
  EXPECT_EQ("2", count.Text(0));
}

// Opens of a file that must exist tell apart what is wrong with it.
TEST(SqliteCoreTest, ExistingOnlyOpensNameWhatIsWrong) {
  TempDir dir;
  const auto kindOf = [](auto action) { return StorageErrorOf(action).What(); };
  EXPECT_EQ(StorageError::Kind::Missing,
            kindOf([&] { sqlite::Connection(dir.File("none.dat"), sqlite::OpenMode::ReadOnly); }));
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.dat")));
  EXPECT_EQ(StorageError::Kind::Directory,
            kindOf([&] { sqlite::Connection(dir.Path(), sqlite::OpenMode::ReadWrite); }));
  std::ofstream(dir.File("text.dat")) << std::string(2048, 'x');
  EXPECT_EQ(StorageError::Kind::NotADatabase, kindOf([&] {
              sqlite::Connection(dir.File("text.dat"), sqlite::OpenMode::ReadOnly).IsEmpty();
            }));

  sqlite::Connection(dir.File("t.dat"), sqlite::OpenMode::Create).Execute("CREATE TABLE a (x)");
  sqlite::Connection readOnly(dir.File("t.dat"), sqlite::OpenMode::ReadOnly);
  const StorageError table = StorageErrorOf([&] { readOnly.RequireTables({"a", "b"}); });
  EXPECT_EQ(StorageError::Kind::MissingTable, table.What());
  EXPECT_EQ("b", table.Detail());
  EXPECT_EQ(SQLITE_READONLY,
            StorageErrorOf([&] { readOnly.Execute("INSERT INTO a VALUES (1)"); }).Code());
}

}  // namespace
}  // namespace veltrane
