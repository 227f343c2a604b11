// Clocks: local time for split naming, process CPU time and wall time for the
// CPU meter.
//
// Contract: a Clock is a seam; the program uses systemClock(), tests pass a
// fake. Any thread may call it.
#pragma once

#include <cstdint>

namespace vorta {

struct LocalTime {
  int hour = 0;        // 0..23
  int dayOfWeek = 0;   // 0 Sunday .. 6 Saturday
  int dayOfMonth = 1;  // 1..31
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime localTime() = 0;
  // CPU time of the whole process (all threads, user + system), 100 ns units.
  virtual std::int64_t processCpuTime() = 0;
  // Wall-clock time, 100 ns units.
  virtual std::int64_t systemTime() = 0;
};

Clock& systemClock();

}  // namespace vorta
