// A wall-clock moment as ISO 8601 in UTC, "2026-12-07T10:59:58Z", for the
// status file and the hooks' environment. Pure: any thread.
#pragma once

#include <fmt/format.h>

#include <chrono>
#include <string>

namespace vorta {

inline std::string utcText(std::chrono::sys_seconds moment) {
  const auto days = std::chrono::floor<std::chrono::days>(moment);
  const std::chrono::year_month_day date{days};
  const std::chrono::hh_mm_ss time{moment - days};
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", static_cast<int>(date.year()),
                     static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                     time.hours().count(), time.minutes().count(), time.seconds().count());
}

}  // namespace vorta
