#include "platform/Clock.h"

#include <windows.h>

namespace vorta {
namespace {

// FILETIME counts 100 ns units from 1601-01-01 UTC.
constexpr std::int64_t kEpochIn100ns = 116444736000000000LL;

std::int64_t units100ns(const FILETIME& t) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
}

LocalTime fromSystemTime(const SYSTEMTIME& t) {
  LocalTime local;
  local.hour = t.wHour;
  local.dayOfWeek = t.wDayOfWeek;
  local.dayOfMonth = t.wDay;
  local.year = t.wYear;
  local.month = t.wMonth;
  local.minute = t.wMinute;
  local.second = t.wSecond;
  return local;
}

class SystemClock final : public Clock {
 public:
  LocalTime localTime() override {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return fromSystemTime(now);
  }

  std::int64_t wallSeconds() override { return (systemTime() - kEpochIn100ns) / 10000000; }

  LocalTime localTime(std::int64_t epochSeconds) override {
    const auto units = static_cast<std::uint64_t>(epochSeconds * 10000000 + kEpochIn100ns);
    FILETIME utc{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
    SYSTEMTIME utcParts{}, localParts{};
    if (!FileTimeToSystemTime(&utc, &utcParts) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &localParts))
      return localTime();
    return fromSystemTime(localParts);
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
