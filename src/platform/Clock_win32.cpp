#include "platform/Clock.h"

#include <windows.h>

#include <time.h>

namespace vorta {
namespace {

std::int64_t units100ns(const FILETIME& t) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
}

class SystemClock final : public Clock {
 public:
  LocalTime localTime() override { return localTime(wallSeconds()); }
  std::int64_t wallSeconds() override { return static_cast<std::int64_t>(_time64(nullptr)); }
  LocalTime localTime(std::int64_t epochSeconds) override {
    const auto moment = static_cast<__time64_t>(epochSeconds);
    tm parts{};
    _localtime64_s(&parts, &moment);
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
  // Kernel and user time of every thread of the process.
  std::int64_t processCpuTime() override {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return units100ns(kernel) + units100ns(user);
  }
  std::int64_t systemTime() override {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return units100ns(now);
  }
};

}  // namespace

Clock& systemClock() {
  static SystemClock clock;
  return clock;
}

}  // namespace vorta
