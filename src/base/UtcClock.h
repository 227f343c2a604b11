// The calendar in UTC (--utc): names, hours and dates that no time zone and
// no change of daylight saving time can move or repeat.
//
// Pure: any thread. UtcClock wraps the system's clock (or a test's) and
// changes only what it calls local time; every other reading passes through.
#pragma once

#include "platform/Clock.h"

namespace vorta {

// The calendar fields of a moment in UTC, with an offset of 0.
LocalTime utcTime(WallSeconds moment);

class UtcClock final : public Clock {
 public:
  explicit UtcClock(Clock& inner) : inner_(inner) {}
  WallSeconds wallNow() override { return inner_.wallNow(); }
  WallMilliseconds wallNowMs() override { return inner_.wallNowMs(); }
  LocalTime localTime(WallSeconds moment) override { return utcTime(moment); }
  SteadyTime steadyNow() override { return inner_.steadyNow(); }
  std::chrono::nanoseconds processCpuTime() override { return inner_.processCpuTime(); }

 private:
  Clock& inner_;
};

}  // namespace vorta
