// Local calendar days and clock times as moments (milliseconds since the
// epoch), through the program's clock, which knows the time zone.
//
// Pure apart from the clock: any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace vorta::web {

struct Date {
  int year = 1970, month = 1, day = 1;
};

// "2026-12-07" as a date that exists, or nothing.
std::optional<Date> parseDate(std::string_view text);
std::string formatDate(const Date& date);
Date dateOf(const LocalTime& t);
Date nextDate(const Date& date);

// The moment a local clock time of that day begins (the first such moment
// when a clock step repeats it; for a skipped time, the moment after the gap).
std::int64_t localMoment(const Date& date, int hour, int minute, int second, Clock& clock);
// The local time zone's offset from UTC at a moment, in minutes.
int utcOffsetMinutes(std::int64_t epochMs, Clock& clock);

}  // namespace vorta::web
