#include "web/HttpDate.h"

#include <array>
#include <chrono>
#include <cstdio>

namespace vorta::web {
namespace {

constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The value of `width` digits at `at`, or -1.
int digits(std::string_view text, std::size_t at, std::size_t width) {
  if (at + width > text.size()) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::string formatHttpDate(std::int64_t epochSeconds) {
  using namespace std::chrono;
  const sys_seconds moment{seconds{epochSeconds}};
  const sys_days day = floor<days>(moment);
  const year_month_day ymd{day};
  const hh_mm_ss<seconds> hms{moment - day};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d GMT",
                kDays[weekday{day}.c_encoding()], unsigned(ymd.day()),
                kMonths[unsigned(ymd.month()) - 1], int(ymd.year()), int(hms.hours().count()),
                int(hms.minutes().count()), int(hms.seconds().count()));
  return text;
}

std::optional<std::int64_t> parseHttpDate(std::string_view text) {
  // "Sun, 06 Nov 1994 08:49:37 GMT": 29 characters, fixed places.
  if (text.size() != 29 || text.substr(3, 2) != ", " || text.substr(25) != " GMT") return {};
  int month = 0;
  while (month < 12 && text.substr(8, 3) != kMonths[month]) ++month;
  const int day = digits(text, 5, 2), year = digits(text, 12, 4);
  const int hour = digits(text, 17, 2), minute = digits(text, 20, 2), second = digits(text, 23, 2);
  if (month == 12 || day < 1 || year < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 60 || text[7] != ' ' || text[11] != ' ' || text[16] != ' ' ||
      text[19] != ':' || text[22] != ':')
    return {};
  using namespace std::chrono;
  const year_month_day ymd{std::chrono::year{year}, std::chrono::month{unsigned(month + 1)},
                           std::chrono::day{unsigned(day)}};
  if (!ymd.ok()) return {};
  return sys_days{ymd}.time_since_epoch() / std::chrono::seconds{1} + hour * 3600 + minute * 60 + second;
}

}  // namespace vorta::web
