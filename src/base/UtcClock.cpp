#include "base/UtcClock.h"

namespace vorta {
namespace {

std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

}  // namespace

// Days since the epoch to a date of the proleptic Gregorian calendar, counted
// in 400-year eras that start on 1 March, so the leap day ends a year.
LocalTime utcTime(WallSeconds moment) {
  const std::int64_t epochSeconds = moment.time_since_epoch().count();
  const std::int64_t days = floorDiv(epochSeconds, 86400);
  const std::int64_t secondOfDay = epochSeconds - days * 86400;
  const std::int64_t shifted = days + 719468;  // from 0000-03-01
  const std::int64_t era = floorDiv(shifted, 146097);
  const std::int64_t dayOfEra = shifted - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  LocalTime t;
  t.dayOfMonth = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  t.month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  t.year = static_cast<int>(yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0));
  t.hour = static_cast<int>(secondOfDay / 3600);
  t.minute = static_cast<int>(secondOfDay / 60 % 60);
  t.second = static_cast<int>(secondOfDay % 60);
  t.dayOfWeek = static_cast<int>(days + 4 - 7 * floorDiv(days + 4, 7));  // 1970-01-01: a Thursday
  t.utcOffsetMinutes = 0;
  return t;
}

}  // namespace vorta
