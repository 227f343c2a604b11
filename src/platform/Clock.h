// Clocks: wall-clock seconds and local time for split naming, process CPU
// time and wall time for the CPU meter.
//
// Contract: a Clock is a seam; the program uses systemClock(), tests pass a
// fake. Any thread may call it; it holds no state of its own.
#pragma once

#include <cstdint>

namespace vorta {

// A moment in local time, every field as the calendar shows it.
struct LocalTime {
  int hour = 0;        // 0..23
  int dayOfWeek = 0;   // 0 Sunday .. 6 Saturday
  int dayOfMonth = 1;  // 1..31
  int year = 1970;     // e.g. 2026
  int month = 1;       // 1..12
  int minute = 0;      // 0..59
  int second = 0;      // 0..60 (a leap second)
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Now, in local time.
  virtual LocalTime localTime() = 0;
  // Now, in whole seconds since 1970-01-01 00:00 UTC.
  virtual std::int64_t wallSeconds() = 0;
  // The local time of a moment given in seconds since the epoch.
  virtual LocalTime localTime(std::int64_t epochSeconds) = 0;
  // CPU time of the whole process (all threads, user + system), 100 ns units.
  virtual std::int64_t processCpuTime() = 0;
  // Wall-clock time, 100 ns units.
  virtual std::int64_t systemTime() = 0;
};

Clock& systemClock();

}  // namespace vorta
