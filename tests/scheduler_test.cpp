#include "scheduler/scheduler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "storage/cppsqlite3.h"
#include "storage/database_files.h"
#include "storage/spool.h"
#include "tests/support/scoped_locale.h"
#include "tests/support/test_database.h"
#include "tests/support/write_lock.h"

namespace veltrane {
namespace {

using namespace std::chrono_literals;
using testing::TestDatabases;
using testing::WriteLock;

// Records queued ids; lets a test wait for them and react inside QueueSchedule.
class RecordingQueue : public ScheduleQueue {
 public:
  bool QueueSchedule(ScheduleId id) override {
    {
      std::lock_guard lock(mutex_);
      ids_.push_back(std::to_string(id));
    }
    changed_.notify_all();
    if (onQueue) onQueue(std::to_string(id));
    return true;
  }
  void SetScheduleProblem(const std::string& text) override {
    if (onProblem) onProblem(text);
  }
  std::vector<std::string> Ids() const {
    std::lock_guard lock(mutex_);
    return ids_;
  }
  bool WaitForCount(std::size_t count) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 30s, [&] { return ids_.size() >= count; });
  }
  std::function<void(const std::string&)> onQueue;
  std::function<void(const std::string&)> onProblem;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> ids_;
};

class SchedulerTest : public ::testing::Test {
 protected:
  void AddSchedule(const std::string& id, const std::string& frequency, const std::string& time,
                   const std::string& next) {
    databases.Main("INSERT INTO schedule (id,name,subscription,frequency,time,next) VALUES (" + id +
                   ",'Release','site'," + frequency + "," + time + "," + next + ")");
  }
  std::string NextOf(const std::string& id) const {
    return databases.MainScalar("SELECT next FROM schedule WHERE id = " + id);
  }

  TestDatabases databases;
  RecordingQueue queue;
  ManualClock clock{45000.5};
  RecordingTrace trace;
  CScheduler scheduler{queue, clock, trace, DatabasePaths{databases.MainPath(), "", ""}};
};

TEST_F(SchedulerTest, NothingDueQueuesNothingAndWritesNothing) {
  AddSchedule("1", "1", "0", "45000.5");  // due only once now has passed it
  AddSchedule("2", "1", "0", "45100");
  scheduler.PollSchedules();
  EXPECT_TRUE(queue.Ids().empty());
  EXPECT_EQ("45000.5", NextOf("1"));
  EXPECT_EQ("45100.0", NextOf("2"));
}

TEST_F(SchedulerTest, FrequencyAndTimeAdvanceTheNextRunFromNow) {
  struct Case {
    std::string frequency, time, want;
  };
  const std::vector<Case> cases = {
      {"1", "0.25", "45001.75"},    // a day and six hours from now, not tomorrow at 06:00
      {"2", "0", "45007.5"},        // weekly
      {"3", "0.5", "45031.0"},      // every 30 days
      {"0", "0", "145000.5"},       // once: pushed 100000 days ahead
      {"7", "0.5", "45001.0"},      // unknown code adds nothing: a custom interval of `time`
      {"NULL", "NULL", "145000.5"}  // NULL frequency and time read as 0
  };
  for (const Case& c : cases) {
    databases.Main("DELETE FROM schedule; DELETE FROM job");
    AddSchedule("9", c.frequency, c.time, "44000");
    scheduler.PollSchedules();
    EXPECT_EQ(c.want, NextOf("9")) << "frequency " << c.frequency << " time " << c.time;
  }
  EXPECT_EQ(std::vector<std::string>(cases.size(), "9"), queue.Ids());
}

TEST_F(SchedulerTest, OneIdPerPollLongestDueFirst) {
  AddSchedule("1", "1", "0", "44999");
  AddSchedule("2", "1", "0", "44000");
  AddSchedule("3", "1", "0", "44500");
  for (int poll = 0; poll < 4; ++poll) scheduler.PollSchedules();
  EXPECT_EQ((std::vector<std::string>{"2", "3", "1"}), queue.Ids());
}

TEST_F(SchedulerTest, RowWithNullIdNeverStarvesTheOthers) {
  // A table where id may be NULL, as a hand-made database might have it.
  databases.Main(
      "DROP TABLE schedule;"
      "CREATE TABLE schedule (id INTEGER, name TEXT, subscription TEXT,"
      " frequency INTEGER, start_date INTEGER, end_date INTEGER, time REAL, next REAL)");
  AddSchedule("NULL", "1", "0", "40000");
  AddSchedule("'1 OR 1=1'", "1", "0", "40001");
  AddSchedule("5", "1", "0", "44000");
  scheduler.PollSchedules();
  scheduler.PollSchedules();
  EXPECT_EQ(std::vector<std::string>{"5"}, queue.Ids());
  EXPECT_EQ("40000.0", databases.MainScalar("SELECT next FROM schedule WHERE id IS NULL"));
  EXPECT_EQ("45001.5", NextOf("5"));
}

TEST_F(SchedulerTest, DatabaseFailuresQueueNothingAndTheNextPollRecovers) {
  // No table at all: the query fails and is retried later.
  databases.Main("DROP TABLE schedule");
  scheduler.PollSchedules();
  EXPECT_TRUE(queue.Ids().empty());

  // No db directory: the open fails, the scheduler is still usable.
  CScheduler homeless(queue, clock, trace,
                      DatabasePaths{databases.Directory() + "/missing/vt.dat", "", ""});
  homeless.PollSchedules();
  EXPECT_EQ(NextRunWrite::Failed, homeless.UpdateNextRun(1, 45001));
  EXPECT_TRUE(queue.Ids().empty());
}

TEST_F(SchedulerTest, ScheduleWhoseNextRunCannotBeWrittenIsNotQueued) {
  AddSchedule("1", "1", "0", "44000");
  // The database refuses the write, as a full disk or a read-only folder would.
  databases.Main(
      "CREATE TRIGGER refuse BEFORE UPDATE ON schedule BEGIN SELECT RAISE(ABORT, 'disk full'); "
      "END");
  std::vector<std::string> problems;
  queue.onProblem = [&](const std::string& text) { problems.push_back(text); };
  scheduler.PollSchedules();
  scheduler.PollSchedules();
  EXPECT_TRUE(queue.Ids().empty());
  EXPECT_EQ("44000.0", NextOf("1"));
  EXPECT_EQ("0", databases.MainScalar("SELECT count(*) FROM job"));  // rolled back with it
  const std::string want =
      "Next run of schedule 1 not written (SQLITE_CONSTRAINT[19]: disk full); it is not started "
      "and is tried again at "
      "the next poll";
  EXPECT_EQ((std::vector<std::string>{want, want}), problems);
  EXPECT_EQ(want, trace.lines.back());

  // Once the write goes through, the schedule is queued once and recorded as a queued job.
  databases.Main("DROP TRIGGER refuse");
  scheduler.PollSchedules();
  EXPECT_EQ(std::vector<std::string>{"1"}, queue.Ids());
  EXPECT_EQ("", problems.back());
  EXPECT_EQ("1|45000.5|", databases.MainScalar("SELECT schedule_id || '|' || queued || '|' || "
                                               "ifnull(started, '') FROM job"));
}

TEST_F(SchedulerTest, ScheduleThatWouldNotMoveOnIsSkippedAndTracedOnce) {
  AddSchedule("1", "9", "0", "40000");     // unknown code, no time: due again at once
  AddSchedule("2", "1", "-1", "40001");    // a day forward, a day back
  AddSchedule("3", "9", "0.25", "44000");  // unknown code with a time: every six hours
  scheduler.PollSchedules();
  scheduler.PollSchedules();
  EXPECT_EQ(std::vector<std::string>{"3"}, queue.Ids());
  EXPECT_EQ("40000.0", NextOf("1"));
  EXPECT_EQ("40001.0", NextOf("2"));
  EXPECT_EQ("45000.75", NextOf("3"));
  int invalid = 0;
  for (const std::string& line : trace.lines)
    invalid += line.find("is invalid") != std::string::npos;
  EXPECT_EQ(2, invalid);
  EXPECT_EQ(
      "Schedule 1 is invalid: its next run would not move on (frequency 9, time 0); it is "
      "not run",
      trace.lines[0]);
}

TEST_F(SchedulerTest, ScheduleWhoseJobIsStillQueuedOrRunningIsNotQueuedAgain) {
  AddSchedule("1", "9", "0.0001", "44000");  // due again long before its job can end
  scheduler.PollSchedules();
  clock.Advance(0.001);
  scheduler.PollSchedules();
  EXPECT_EQ(std::vector<std::string>{"1"}, queue.Ids());
  EXPECT_EQ("Schedule 1 is already queued or running; not queued again", trace.lines.back());
  EXPECT_EQ("1", databases.MainScalar("SELECT count(*) FROM job"));
  databases.Main("UPDATE job SET finished = 45000.6");  // the job has written its report
  clock.Advance(0.001);
  scheduler.PollSchedules();
  EXPECT_EQ((std::vector<std::string>{"1", "1"}), queue.Ids());
}

TEST_F(SchedulerTest, EachDistinctPollErrorIsTracedOnceAndShown) {
  std::vector<std::string> problems;
  queue.onProblem = [&](const std::string& text) { problems.push_back(text); };
  databases.Main("DROP TABLE schedule");
  for (int poll = 0; poll < 3; ++poll) scheduler.PollSchedules();
  EXPECT_EQ(1u, trace.lines.size());
  EXPECT_EQ("Schedule poll failed : SQLITE_ERROR[1]: no such table: schedule", trace.lines[0]);
  EXPECT_EQ(trace.lines[0], problems.back());
  databases.Main(
      "CREATE TABLE schedule (id INTEGER PRIMARY KEY, name TEXT, next REAL);"
      "INSERT INTO schedule VALUES (1, 'Release', 44000)");  // a new failure: no frequency
  scheduler.PollSchedules();
  scheduler.PollSchedules();
  EXPECT_EQ(2u, trace.lines.size());
  databases.Main("DELETE FROM schedule");
  scheduler.PollSchedules();
  EXPECT_EQ("", problems.back());
}

TEST_F(SchedulerTest, EveryPollWritesTheReportsKeptSinceTheirJobsEnded) {
  ASSERT_NE("", SpoolStatement(databases.Directory() + "/db",
                               "INSERT INTO history (name) VALUES ('kept')"));
  scheduler.PollSchedules();
  scheduler.PollSchedules();
  EXPECT_EQ("kept", databases.MainScalar("SELECT group_concat(name) FROM history"));
}

TEST_F(SchedulerTest, DecimalCommaLocaleStillWritesPointsInSql) {
  AddSchedule("1", "1", "0.25", "44000.25");
  {
    testing::ScopedLocale decimalComma("de_DE.UTF-8");
    ASSERT_TRUE(decimalComma.ok());
    scheduler.PollSchedules();
  }
  EXPECT_EQ(std::vector<std::string>{"1"}, queue.Ids());
  EXPECT_EQ("45001.75", NextOf("1"));
}

TEST_F(SchedulerTest, PollWaitsOutAShortLock) {
  AddSchedule("1", "1", "0", "44000");
  WriteLock lock(databases.MainPath());
  ASSERT_TRUE(lock.Locked());
  lock.ReleaseAfter(300ms);
  scheduler.PollSchedules();
  EXPECT_EQ(std::vector<std::string>{"1"}, queue.Ids());
  EXPECT_EQ("45001.5", NextOf("1"));
}

TEST_F(SchedulerTest, UpdateRetriesWhileBusyAndLandsAfterTheLockGoes) {
  AddSchedule("1", "1", "0", "44000");
  SchedulerTiming impatient;
  impatient.updateBusyWait = 20;  // each attempt gives up long before the lock goes
  impatient.busyRetryPause = 10ms;
  CScheduler retrying(queue, clock, trace, DatabasePaths{databases.MainPath(), "", ""}, impatient);

  WriteLock lock(databases.MainPath());
  ASSERT_TRUE(lock.Locked());
  lock.ReleaseAfter(500ms);
  EXPECT_EQ(NextRunWrite::Written, retrying.UpdateNextRun(1, 45001.75));
  EXPECT_EQ("45001.75", NextOf("1"));
}

TEST_F(SchedulerTest, UpdateGivesUpWhenTheRetryBudgetIsSpent) {
  AddSchedule("1", "1", "0", "44000");
  SchedulerTiming impatient;
  impatient.updateBusyWait = 5;
  impatient.busyRetryPause = 1ms;
  impatient.busyRetryBudget = 3;
  CScheduler retrying(queue, clock, trace, DatabasePaths{databases.MainPath(), "", ""}, impatient);
  {
    WriteLock lock(databases.MainPath());
    ASSERT_TRUE(lock.Locked());
    EXPECT_EQ(NextRunWrite::Failed, retrying.UpdateNextRun(1, 45001.75));
  }
  EXPECT_EQ("44000.0", NextOf("1"));  // left due, so a later poll queues it again
  EXPECT_EQ("44000.0", NextOf("1"));
}

TEST_F(SchedulerTest, NextPollCountsFromTheStartOfThePoll) {
  AddSchedule("1", "1", "0", "44000");
  StopRequest stop;
  // The poll takes five minutes of clock time and then asks the loop to end.
  queue.onQueue = [&](const std::string&) {
    clock.Advance(5.0 / 1440);
    stop.Request();
  };
  scheduler.Run(stop);
  EXPECT_EQ(std::vector<std::string>{"1"}, queue.Ids());
  EXPECT_DOUBLE_EQ(45000.5 + CScheduler::kPollInterval, scheduler.NextPoll());
}

TEST_F(SchedulerTest, ThreadPollsAtOnceThenEveryMinuteAndSurvivesAMissingDirectory) {
  // The thread starts before the database directory exists.
  const std::string later = databases.Directory() + "/later";
  const std::string path = later + "/db/vt.dat";
  SchedulerTiming quick;
  quick.idleSleep = 5ms;
  DiscardingTrace quiet;
  auto stop = std::make_shared<StopRequest>();
  CScheduler::Start(queue, clock, quiet, DatabasePaths{path, "", ""}, stop, quick);

  std::filesystem::create_directories(later + "/db");
  {
    CppSQLite3DB db;
    db.Open(path.c_str());
    db.RunStatement(MainDatabaseSchema());
    db.RunStatement(
        "INSERT INTO schedule (id,frequency,time,next) VALUES (1,1,0,44000);"
        "INSERT INTO schedule (id,frequency,time,next) VALUES (2,1,0,44001)");
  }
  // One id per poll, a minute apart.
  for (std::size_t count = 1; count <= 2; ++count) {
    clock.Advance(1.0 / 1440);
    ASSERT_TRUE(queue.WaitForCount(count)) << count;
  }
  stop->Request();
  ASSERT_TRUE(stop->WaitFinished(30s));
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), queue.Ids());
}

TEST(SchedulerThread, FirstPollRunsWithoutWaitingAMinute) {
  TestDatabases databases;
  databases.Main("INSERT INTO schedule (id,frequency,time,next) VALUES (3,1,0,44000)");
  RecordingQueue queue;
  ManualClock clock(45000.5);  // never advanced
  DiscardingTrace quiet;
  auto stop = std::make_shared<StopRequest>();
  CScheduler::Start(queue, clock, quiet, DatabasePaths{databases.MainPath(), "", ""}, stop);
  EXPECT_TRUE(queue.WaitForCount(1));
  stop->Request();
  ASSERT_TRUE(stop->WaitFinished(30s));
  EXPECT_EQ(std::vector<std::string>{"3"}, queue.Ids());
}

}  // namespace
}  // namespace veltrane
