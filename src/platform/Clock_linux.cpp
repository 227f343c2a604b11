#include <time.h>

#include "platform/Clock.h"

namespace vorta {
namespace {

class SystemClock final : public Clock {
 public:
  WallSeconds wallNow() override {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  }

  WallMilliseconds wallNowMs() override {
    return std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
  }

  LocalTime localTime(WallSeconds moment) override {
    const auto seconds = static_cast<time_t>(moment.time_since_epoch().count());
    tm parts{};
    localtime_r(&seconds, &parts);
    LocalTime local;
    local.hour = parts.tm_hour;
    local.dayOfWeek = parts.tm_wday;
    local.dayOfMonth = parts.tm_mday;
    local.year = parts.tm_year + 1900;
    local.month = parts.tm_mon + 1;
    local.minute = parts.tm_min;
    local.second = parts.tm_sec;
    local.utcOffsetMinutes = static_cast<int>(parts.tm_gmtoff / 60);
    return local;
  }

  SteadyTime steadyNow() override { return std::chrono::steady_clock::now(); }

  std::chrono::nanoseconds processCpuTime() override {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
  }
};

}  // namespace

Clock& systemClock() {
  static SystemClock clock;
  return clock;
}

}  // namespace vorta
