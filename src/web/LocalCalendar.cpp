#include "web/LocalCalendar.h"

#include <chrono>
#include <cstdio>

namespace vorta::web {
namespace {

std::int64_t civilSeconds(int y, int m, int d, int hour, int minute, int second) {
  using namespace std::chrono;
  const sys_days day{year{y} / month{unsigned(m)} / std::chrono::day{unsigned(d)}};
  return day.time_since_epoch() / seconds{1} + hour * 3600 + minute * 60 + second;
}

// What the local clock shows at a moment, as if it were UTC.
std::int64_t shownSeconds(std::int64_t epochSeconds, Clock& clock) {
  const LocalTime t = clock.localTime(WallSeconds(std::chrono::seconds(epochSeconds)));
  return civilSeconds(t.year, t.month, t.dayOfMonth, t.hour, t.minute, t.second);
}

}  // namespace

std::optional<Date> parseDate(std::string_view text) {
  int y = 0, m = 0, d = 0;
  char tail = 0;
  if (text.size() != 10 || std::sscanf(std::string(text).c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3)
    return {};
  const std::chrono::year_month_day ymd{std::chrono::year{y}, std::chrono::month{unsigned(m)},
                                        std::chrono::day{unsigned(d)}};
  if (!ymd.ok() || y < 1970) return {};
  return Date{y, m, d};
}

std::string formatDate(const Date& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year % 10000, date.month % 100, date.day % 100);
  return text;
}

Date dateOf(const LocalTime& t) { return Date{t.year, t.month, t.dayOfMonth}; }

Date nextDate(const Date& date) {
  using namespace std::chrono;
  const year_month_day next{sys_days{year{date.year} / month{unsigned(date.month)} / day{unsigned(date.day)}} + days{1}};
  return Date{int(next.year()), int(unsigned(next.month())), int(unsigned(next.day()))};
}

std::int64_t localMoment(const Date& date, int hour, int minute, int second, Clock& clock) {
  const std::int64_t wanted = civilSeconds(date.year, date.month, date.day, hour, minute, second);
  // Guess with the offset of the guess, twice: right except around a step.
  std::int64_t guess = wanted;
  for (int i = 0; i < 2; ++i) guess = wanted - (shownSeconds(guess, clock) - guess);
  // The earliest moment that shows the wanted time or later.
  std::int64_t best = guess;
  for (std::int64_t probe = guess - 3600; probe <= guess + 3600; probe += 900)
    if (shownSeconds(probe, clock) >= wanted && probe < best) best = probe;
  while (best > guess - 7200 && shownSeconds(best - 1, clock) >= wanted) --best;
  return best * 1000;
}

int utcOffsetMinutes(std::int64_t epochMs, Clock& clock) {
  const std::int64_t s = epochMs / 1000;
  return int((shownSeconds(s, clock) - s) / 60);
}

}  // namespace vorta::web
