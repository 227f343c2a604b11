// A duration as people read it: hours (never reduced modulo 24, so a run of
// 25 hours shows 25), minutes and seconds; "H:MM:SS" as every text shows it.
//
// Pure: any thread. A negative duration reads as zero.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vorta {

struct HoursMinutesSeconds {
  std::int64_t hours = 0;
  int minutes = 0;  // 0..59
  int seconds = 0;  // 0..59
};

// Whole seconds; a fraction of a second is dropped.
template <class Rep, class Period>
constexpr HoursMinutesSeconds splitHours(std::chrono::duration<Rep, Period> d) {
  const std::int64_t s =
      d.count() < 0 ? 0 : std::chrono::duration_cast<std::chrono::seconds>(d).count();
  return {s / 3600, static_cast<int>(s / 60 % 60), static_cast<int>(s % 60)};
}

// "H:MM:SS", e.g. "0:00:08" or "25:03:07".
template <class Rep, class Period>
std::string formatHours(std::chrono::duration<Rep, Period> d) {
  const HoursMinutesSeconds t = splitHours(d);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(t.hours), t.minutes,
                t.seconds);
  return text;
}

}  // namespace vorta
