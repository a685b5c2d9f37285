// The PostgreSQL connection layer against a throw-away server.
#include <gtest/gtest.h>

#include "storage/postgres/pg_database.h"
#include "tests/support/postgres_server.h"

namespace veltrane {
namespace {

TEST(PgDatabaseTest, BindsTextsAndNullsAndRollsBackWhatIsNotCommitted) {
  testing::PostgresServer server;
  ASSERT_TRUE(server.Running()) << server.Error();
  PgDatabase database(server.Url());
  database.ExecuteScript("CREATE TABLE t (a TEXT, b DOUBLE PRECISION); CREATE TABLE u (c TEXT)");

  // A quote in a value stays a value; NULL stays NULL.
  database.Execute("INSERT INTO t VALUES ($1, $2)", {"it's; DROP TABLE u", "0.5"});
  database.Execute("INSERT INTO t VALUES ($1, $2)", {std::nullopt, "2"});
  const PgResult rows = database.Execute("SELECT a, b FROM t ORDER BY b");
  ASSERT_EQ(2, rows.Rows());
  EXPECT_EQ("it's; DROP TABLE u", rows.Text(0, 0));
  EXPECT_DOUBLE_EQ(0.5, rows.Real(0, 1));
  EXPECT_TRUE(rows.IsNull(1, 0));

  {
    PgTransaction transaction(database);
    EXPECT_EQ(2, database.Execute("DELETE FROM t").Changes());
  }
  EXPECT_EQ(2, database.Execute("SELECT count(*) FROM t").Integer(0, 0));
  {
    PgTransaction transaction(database);
    database.Execute("DELETE FROM t WHERE a IS NULL");
    transaction.Commit();
  }
  EXPECT_EQ(1, database.Execute("SELECT count(*) FROM t").Integer(0, 0));

  try {
    database.Execute("INSERT INTO missing VALUES (1)");
    FAIL() << "no error for a missing table";
  } catch (const PgError& error) {
    EXPECT_EQ("42P01", error.SqlState());
    EXPECT_FALSE(error.Unreachable());
  }
}

TEST(PgDatabaseTest, AStoppedServerIsUnreachableAndAStartedOneServesAgain) {
  testing::PostgresServer server;
  ASSERT_TRUE(server.Running()) << server.Error();
  const std::string url = server.CreateDatabase("jobs");
  ASSERT_FALSE(url.empty()) << server.Error();
  PgDatabase database(url);
  ASSERT_TRUE(server.Stop()) << server.Error();
  try {
    database.Execute("SELECT 1");
    FAIL() << "a query on a stopped server succeeded";
  } catch (const PgError& error) {
    EXPECT_TRUE(error.Unreachable()) << error.what() << " " << error.SqlState();
  }
  EXPECT_THROW(PgDatabase{url}, PgError);
  ASSERT_TRUE(server.Start()) << server.Error();
  EXPECT_EQ(1, PgDatabase(url).Execute("SELECT 1").Integer(0, 0));
}

}  // namespace
}  // namespace veltrane
