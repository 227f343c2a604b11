#include "platform/Clock.h"

#include <windows.h>

namespace vorta {
namespace {

// FILETIME counts 100 ns units from 1601-01-01 UTC.
using FileTimeUnits = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
constexpr std::int64_t kEpochIn100ns = 116444736000000000LL;

FileTimeUnits units(const FILETIME& t) {
  return FileTimeUnits(static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime));
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
  WallSeconds wallNow() override {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  }

  WallMilliseconds wallNowMs() override {
    return std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
  }

  LocalTime localTime(WallSeconds moment) override {
    const auto at = static_cast<std::uint64_t>(
        std::chrono::duration_cast<FileTimeUnits>(moment.time_since_epoch()).count() + kEpochIn100ns);
    FILETIME utc{static_cast<DWORD>(at), static_cast<DWORD>(at >> 32)};
    SYSTEMTIME utcParts{}, localParts{};
    FILETIME local{};
    if (FileTimeToSystemTime(&utc, &utcParts) &&
        SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &localParts) &&
        SystemTimeToFileTime(&localParts, &local)) {
      LocalTime parts = fromSystemTime(localParts);
      parts.utcOffsetMinutes = static_cast<int>(
          std::chrono::duration_cast<std::chrono::minutes>(units(local) - units(utc)).count());
      return parts;
    }
    GetLocalTime(&localParts);  // a moment the system cannot convert: now
    return fromSystemTime(localParts);
  }

  SteadyTime steadyNow() override { return std::chrono::steady_clock::now(); }

  // Kernel and user time of every thread of the process.
  std::chrono::nanoseconds processCpuTime() override {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
      return std::chrono::nanoseconds(0);
    return units(kernel) + units(user);
  }
};

}  // namespace

Clock& systemClock() {
  static SystemClock clock;
  return clock;
}

}  // namespace vorta
