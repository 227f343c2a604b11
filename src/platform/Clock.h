// Clocks: the wall clock for names, hours and file ages; the steady clock for
// every interval (a status line a minute, a watchdog ping, the CPU meter's
// window), so that a wall clock stepped by the administrator or by time
// synchronisation never stretches or shrinks an interval; the process's CPU
// time for the CPU meter.
//
// Contract: a Clock is a seam; the program uses systemClock(), tests pass a
// fake. Any thread may call it; it holds no state of its own.
#pragma once

#include <chrono>
#include <cstdint>

namespace vorta {

// A moment on the wall clock, whole seconds since 1970-01-01 00:00 UTC.
using WallSeconds = std::chrono::sys_seconds;
using WallMilliseconds = std::chrono::sys_time<std::chrono::milliseconds>;
// A moment on the steady clock: only differences mean anything.
using SteadyTime = std::chrono::steady_clock::time_point;

// A moment in local time, every field as the calendar shows it.
struct LocalTime {
  int hour = 0;        // 0..23
  int dayOfWeek = 0;   // 0 Sunday .. 6 Saturday
  int dayOfMonth = 1;  // 1..31
  int year = 1970;     // e.g. 2026
  int month = 1;       // 1..12
  int minute = 0;      // 0..59
  int second = 0;      // 0..60 (a leap second)
  int utcOffsetMinutes = 0;  // local time minus UTC: 60 for +0100, -300 for -0500
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Now, on the wall clock.
  virtual WallSeconds wallNow() = 0;
  // Now, on the wall clock to the millisecond: when sound was captured, for
  // the time maps. A fake that needs no more keeps the whole seconds.
  virtual WallMilliseconds wallNowMs() { return wallNow(); }
  // The local time of a wall-clock moment.
  virtual LocalTime localTime(WallSeconds moment) = 0;
  // Now, on the steady clock.
  virtual SteadyTime steadyNow() = 0;
  // CPU time of the whole process (all threads, user + system).
  virtual std::chrono::nanoseconds processCpuTime() = 0;

  // Now, in local time.
  LocalTime localNow() { return localTime(wallNow()); }
};

Clock& systemClock();

}  // namespace vorta
