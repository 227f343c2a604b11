#include "platform/Clock.h"

#include <time.h>

namespace vorta {
namespace {

std::int64_t units100ns(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 10000000 + t.tv_nsec / 100;
}

class SystemClock final : public Clock {
 public:
  LocalTime localTime() override {
    const time_t now = time(nullptr);
    tm parts{};
    localtime_r(&now, &parts);
    return LocalTime{parts.tm_hour, parts.tm_wday, parts.tm_mday};
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
