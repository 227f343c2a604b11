#include <time.h>

#include "platform/Clock.h"

namespace vorta {
namespace {

std::int64_t units100ns(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 10000000 + t.tv_nsec / 100;
}

class SystemClock final : public Clock {
 public:
  LocalTime localTime() override { return localTime(wallSeconds()); }

  std::int64_t wallSeconds() override { return static_cast<std::int64_t>(time(nullptr)); }

  LocalTime localTime(std::int64_t epochSeconds) override {
    const auto moment = static_cast<time_t>(epochSeconds);
    tm parts{};
    localtime_r(&moment, &parts);
    LocalTime local;
    local.hour = parts.tm_hour;
    local.dayOfWeek = parts.tm_wday;
    local.dayOfMonth = parts.tm_mday;
    local.year = parts.tm_year + 1900;
    local.month = parts.tm_mon + 1;
    local.minute = parts.tm_min;
    local.second = parts.tm_sec;
    return local;
  }

  std::int64_t processCpuTime() override {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return units100ns(t);
  }

  std::int64_t systemTime() override {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return units100ns(t);
  }
};

}  // namespace

Clock& systemClock() {
  static SystemClock clock;
  return clock;
}

}  // namespace vorta
