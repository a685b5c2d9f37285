// Syslog priorities of the trace: how texts are sorted, that only a stream
// systemd connected to the journal gets them, and what the built service
// writes for a job with one failed site.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/day_clock.h"
#include "platform/stderr_trace.h"
#include "platform/trace_priority.h"
#include "tests/support/fault_harness.h"

namespace veltrane {
namespace {

TEST(JournalPriority, TextsAreSortedByWhatTheySay) {
  const struct {
    const char* text;
    TracePriority want;
  } cases[] = {
      {"SELECT name FROM schedule WHERE id = 3\r\n5 : database is locked", TracePriority::Error},
      {"INSERT INTO history VALUES (1)\r\n-1 : disk full", TracePriority::Error},
      {"Schedule poll failed : unable to open database file", TracePriority::Error},
      {"Next run of schedule 4 not written (locked); it is not started", TracePriority::Error},
      {"Schedule 7 is invalid: its next run would not move on (frequency 9, time 0)",
       TracePriority::Error},
      {"Cannot record the end of site alpha : disk I/O error", TracePriority::Error},
      {"Report kept in /srv/db/spooled-1.sql until it can be written", TracePriority::Error},
      {"Kept statement /srv/db/spooled-1.sql not written yet : locked", TracePriority::Error},
      {"Kept statement /srv/db/spooled-1.sql cannot be applied (incomplete: its end is missing); "
       "moved to /srv/db/spool-failed/spooled-1.sql",
       TracePriority::Error},
      {"Success string not found", TracePriority::Warning},
      {"Unable to continue", TracePriority::Warning},
      {"Login form on another host (evil.example)", TracePriority::Warning},
      {"Request to another host refused during login: evil.example", TracePriority::Warning},
      {"Request guard not in place", TracePriority::Warning},
      {"Job 7 of schedule 3 was taken over by another instance; this instance stops it",
       TracePriority::Warning},
      {"Leases of the running jobs not renewed : POSTGRESQL_ERROR[1001]: server closed",
       TracePriority::Warning},
      {"HTTP 503 on http://127.0.0.1:8080/", TracePriority::Warning},
      {"Error while navigate http://127.0.0.1:1/ code:0", TracePriority::Warning},
      {"Network error: Connection refused", TracePriority::Warning},
      {"Screenshot saved : /srv/shots/20240501-093000-alpha.png", TracePriority::Warning},
      {"Screenshot refused : /srv/shots/x.png is a symbolic link, which is not followed",
       TracePriority::Warning},
      // A step may go on after these, so they are progress.
      {"Unique string not found", TracePriority::Info},
      {"Unable to found link with pattern", TracePriority::Info},
      {"Cant find info for subscription 'no login'", TracePriority::Info},
      {"Current site : HTTP 2 on air", TracePriority::Info},
      {"submission_data : [STEP1]\r\nAPP-FormPos=0", TracePriority::Info},
      {"Schedule 2 is already queued or running; not queued again", TracePriority::Info},
      {"Success String found !!", TracePriority::Info},
      {"Submit button disabled", TracePriority::Warning},
      {"Page updated in place : http://127.0.0.1:8/a", TracePriority::Info},
      {"Schedule polling stopped : out of memory", TracePriority::Error},
      {"Cannot record that job 4 was dropped : SQLITE_BUSY", TracePriority::Error},
      {"Stale page dropped : http://127.0.0.1:8/a", TracePriority::Debug},
      {"Cannot record that site beta is submitting : server closed the connection",
       TracePriority::Error},
      {"Outcome unknown (interrupted while submitting) : beta, sent from http://b/ at 1",
       TracePriority::Warning},
      {"Kept statement /srv/db/spooled-1.sql written", TracePriority::Info},
      // The line that closes a job with failed sites: error when none completed.
      {"Job of schedule 3 (Launch) ended with 1 of 2 sites failed : b (Timeout)",
       TracePriority::Warning},
      {"Job of schedule 3 (Launch) ended with every site failed (2 of 2) : a (Timeout); b (x)",
       TracePriority::Error},
      {"Veltrane 1.0.0 started: store /srv/db/vt.dat and /srv/db/subscription2.dat, folder /srv/, "
       "schedule poll every 60 s",
       TracePriority::Info},
      {"", TracePriority::Info},
      // A lane's line is sorted by what follows its prefix.
      {"[lane 2] Submit button disabled", TracePriority::Warning},
      {"[lane 12] Current site : beta", TracePriority::Info},
      {"[lane 2 Submit button disabled", TracePriority::Info},
      {"Setting parallel_sites 'x' is not a whole number from 1 to 32; 1 is used",
       TracePriority::Warning},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, TracePriorityOf(c.text)) << c.text;
}

// "device:inode" of an open file, as systemd sets JOURNAL_STREAM.
std::string StreamName(int fd) {
  struct stat info {};
  fstat(fd, &info);
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

// What the trace writes to a fresh file when JOURNAL_STREAM is `stream`
// (unset for null; "self" names that very file).
std::string TraceOutput(const char* stream) {
  std::FILE* out = std::tmpfile();
  if (!out) return "no temporary file";
  if (!stream)
    unsetenv("JOURNAL_STREAM");
  else
    setenv("JOURNAL_STREAM",
           std::string(stream) == "self" ? StreamName(fileno(out)).c_str() : stream, 1);
  {
    ManualClock clock(45001.75);
    StderrTrace trace(clock, out);
    trace.TraceLine("Current site : alpha");
    trace.TraceLine("Success string not found");
    trace.TraceLine("Schedule poll failed : locked");
  }
  unsetenv("JOURNAL_STREAM");
  std::rewind(out);
  std::string text;
  char buffer[256];
  while (std::size_t read = std::fread(buffer, 1, sizeof buffer, out)) text.append(buffer, read);
  std::fclose(out);
  return text;
}

TEST(JournalPriority, OnlyTheJournalsOwnStreamGetsPriorities) {
  EXPECT_EQ(
      "<6>2023-03-16 18:00:00.000 Current site : alpha\n"
      "<4>2023-03-16 18:00:00.000 Success string not found\n"
      "<3>2023-03-16 18:00:00.000 Schedule poll failed : locked\n",
      TraceOutput("self"));
  const std::string plain =
      "2023-03-16 18:00:00.000 Current site : alpha\n"
      "2023-03-16 18:00:00.000 Success string not found\n"
      "2023-03-16 18:00:00.000 Schedule poll failed : locked\n";
  EXPECT_EQ(plain, TraceOutput(nullptr));
  // Standard error handed on from a service to a child that redirected it.
  EXPECT_EQ(plain, TraceOutput(StreamName(STDIN_FILENO).c_str()));
  EXPECT_EQ(plain, TraceOutput("not a stream"));
}

}  // namespace

namespace testing {
namespace {

TEST(JournalPriority, TheServiceWarnsOfTheFailedSiteOnly) {
  FaultHarness harness;
  harness.AddFormSite("accepting");
  harness.server.Serve("/refusing/", FormPage("/refusing/post"));
  harness.server.Serve("/refusing/post", "Submissions are closed");
  harness.AddSite("refusing", harness.server.Url("/refusing/"), FormScript());
  harness.AddSchedule(1, "Journal", {"accepting", "refusing"});

  // The service's standard error is its log file; systemd would name its
  // journal stream the same way.
  const std::string log = harness.databases.Directory() + "/service.log";
  std::ofstream(log).close();
  struct stat info {};
  ASSERT_EQ(0, stat(log.c_str(), &info));
  harness.service.StartInOwnGroup(
      {{"VELTRANE_PAGE_TIMEOUT_MS", "5000"},
       {"VELTRANE_POLL_INTERVAL_MS", "1000"},
       {"JOURNAL_STREAM", std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino)}});
  ASSERT_TRUE(harness.WaitForHistory("Journal"));
  ASSERT_EQ("Submission failed (success string not found)",
            harness.Outcomes("Journal")["refusing"]);

  // Trace lines are the stamped ones; GTK and WebKit may write others.
  const std::regex traceLine(R"((<\d>)?\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*))");
  std::istringstream lines(harness.Trace());
  std::string line;
  std::vector<std::string> unprefixed, warnings, errors;
  int progress = 0;
  std::smatch match;
  while (std::getline(lines, line)) {
    if (!std::regex_match(line, match, traceLine)) continue;
    const std::string text = match[2];
    if (match[1] == "<6>")
      ++progress;
    else if (match[1] == "<4>")
      warnings.push_back(text.substr(0, text.find(" : ")));
    else if (match[1] == "<3>")
      errors.push_back(text);
    else
      unprefixed.push_back(line);
  }
  EXPECT_EQ(std::vector<std::string>{}, unprefixed);
  EXPECT_EQ(std::vector<std::string>{}, errors);
  EXPECT_EQ(
      (std::vector<std::string>{"Success string not found [site: refusing]", "Screenshot saved",
                                "Job of schedule 1 (Journal) ended with 1 of 2 sites failed"}),
      warnings);
  // Every warning names the site it is about; progress lines keep their text.
  EXPECT_EQ(1, harness.TraceCount(".png [site: refusing]"));
  EXPECT_EQ(0, harness.TraceCount("Current site : refusing [site:"));
  EXPECT_GT(progress, 10);
}

}  // namespace
}  // namespace testing
}  // namespace veltrane
