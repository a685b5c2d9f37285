// Day numbers: local date-times as days since 30 December 1899, the time of
// day as the fraction (0.5 is noon); a whole date is the integer part.
// Clock is the seam through which every "now" is read, so tests can set it.
#pragma once

#include <atomic>
#include <chrono>

namespace veltrane {

struct CalendarTime {
  int year = 1899;
  int month = 12;  // 1..12
  int day = 30;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  int weekday = 6;  // 0 = Sunday; filled in by CalendarFromDayNumber
};

// Day number of a calendar date and time (no time zone arithmetic: local in, local out).
double DayNumberFromCalendar(const CalendarTime& time);
// Calendar date and time of a day number, to the millisecond.
CalendarTime CalendarFromDayNumber(double dayNumber);
// The whole date of a day number (its integer part, towards minus infinity for
// dates before 1899-12-30, whose fraction still counts forward).
int WholeDate(double dayNumber);

class Clock {
 public:
  virtual ~Clock() = default;
  // The current local date-time as a day number. Safe to call from any thread.
  virtual double Now() const = 0;
};

// The system's local time.
class SystemClock : public Clock {
 public:
  double Now() const override;
};

// A clock that shows what it was told; for tests and tools.
class ManualClock : public Clock {
 public:
  explicit ManualClock(double now = 0.0) : now_(now) {}
  double Now() const override { return now_.load(); }
  void Set(double now) { now_.store(now); }
  void Advance(double days) { now_.store(now_.load() + days); }

 private:
  std::atomic<double> now_;
};

// Another clock that, once `after` has passed on the monotonic clock since
// construction, reads `jump` days off: a day clock set back or forward while
// the program runs, for tests of what must not follow the day clock.
class JumpingClock : public Clock {
 public:
  JumpingClock(const Clock& base, std::chrono::milliseconds after, double jump)
      : base_(base), at_(std::chrono::steady_clock::now() + after), jump_(jump) {}
  double Now() const override {
    return base_.Now() + (std::chrono::steady_clock::now() >= at_ ? jump_ : 0.0);
  }

 private:
  const Clock& base_;
  const std::chrono::steady_clock::time_point at_;
  const double jump_;
};

// The clock the program uses unless a caller passes another.
const Clock& DefaultClock();

}  // namespace veltrane
