#include "platform/Clock.h"

#include <windows.h>

namespace vorta {
namespace {

std::int64_t units100ns(const FILETIME& t) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
}

class SystemClock final : public Clock {
 public:
  LocalTime localTime() override {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return LocalTime{now.wHour, now.wDayOfWeek, now.wDay};
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
