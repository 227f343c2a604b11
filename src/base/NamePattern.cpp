#include "base/NamePattern.h"

#include <fmt/format.h>

#include "platform/Paths.h"

namespace vorta {
namespace {

struct Conversion {
  char letter;
  int width;  // digits, zero-padded
  int min, max;
  bool signedHhmm = false;  // a sign, then hours and minutes (%z: +0100)
};

constexpr Conversion kConversions[] = {
    {'Y', 4, 0, 9999}, {'y', 2, 0, 99}, {'m', 2, 1, 12}, {'d', 2, 1, 31}, {'H', 2, 0, 23},
    {'M', 2, 0, 59},   {'S', 2, 0, 60}, {'u', 1, 1, 7},  {'w', 1, 0, 6},  {'z', 4, 0, 2359, true},
};

const Conversion* conversionFor(char letter) {
  for (const Conversion& c : kConversions)
    if (c.letter == letter) return &c;
  return nullptr;
}

int valueOf(char letter, const LocalTime& t) {
  switch (letter) {
    case 'Y': return t.year;
    case 'y': return t.year % 100;
    case 'm': return t.month;
    case 'd': return t.dayOfMonth;
    case 'H': return t.hour;
    case 'M': return t.minute;
    case 'S': return t.second;
    case 'u': return t.dayOfWeek == 0 ? 7 : t.dayOfWeek;
    case 'z': {
      const int minutes = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
      return minutes / 60 * 100 + minutes % 60;
    }
    default: return t.dayOfWeek;
  }
}

// One conversion's text: its digits, after the sign for %z.
std::string converted(const Conversion& c, const LocalTime& t) {
  const std::string digits = fmt::format("{:0{}}", valueOf(c.letter, t), c.width);
  if (!c.signedHhmm) return digits;
  return (t.utcOffsetMinutes < 0 ? "-" : "+") + digits;
}

// Reads one conversion's text at `at` (moved past it); false unless it is
// one the conversion can give.
bool readConversion(const Conversion& c, std::string_view name, std::size_t& at) {
  if (c.signedHhmm) {
    if (at == name.size() || (name[at] != '+' && name[at] != '-')) return false;
    ++at;
  }
  int value = 0;
  for (int k = 0; k < c.width; ++k, ++at) {
    if (at == name.size() || name[at] < '0' || name[at] > '9') return false;
    value = value * 10 + (name[at] - '0');
  }
  if (c.signedHhmm && value % 100 > 59) return false;
  return value >= c.min && value <= c.max;
}

// %F is a short form: spelt out, every conversion is one letter.
std::string expanded(std::string_view pattern) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      out += pattern[i + 1] == 'F' ? std::string("%Y-%m-%d") : std::string{'%', pattern[i + 1]};
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace

bool isValidNamePattern(std::string_view pattern) {
  if (pattern.empty() || isDirectorySeparator(pattern.front())) return false;
  for (const std::string& part : namePatternParts(pattern))
    if (part.empty() || part == "." || part == "..") return false;
  const std::string full = expanded(pattern);
  for (std::size_t i = 0; i < full.size(); ++i) {
    if (full[i] != '%') continue;
    if (i + 1 == full.size()) return false;
    if (full[i + 1] != '%' && conversionFor(full[i + 1]) == nullptr) return false;
    ++i;
  }
  return true;
}

std::string formatNamePattern(std::string_view pattern, const LocalTime& time) {
  const std::string full = expanded(pattern);
  std::string name;
  for (std::size_t i = 0; i < full.size(); ++i) {
    const Conversion* c = full[i] == '%' && i + 1 < full.size() ? conversionFor(full[i + 1]) : nullptr;
    if (c != nullptr) name += converted(*c, time);
    else if (full[i] == '%' && i + 1 < full.size()) name += full[i + 1];  // %%
    else name += full[i];
    if (full[i] == '%') ++i;
  }
  return name;
}

bool matchesNamePattern(std::string_view pattern, std::string_view name) {
  const std::string full = expanded(pattern);
  std::size_t at = 0;
  for (std::size_t i = 0; i < full.size(); ++i) {
    const Conversion* c = full[i] == '%' && i + 1 < full.size() ? conversionFor(full[i + 1]) : nullptr;
    if (c == nullptr) {
      if (full[i] == '%') ++i;  // %% stands for one '%'
      if (at == name.size() || name[at] != full[i]) return false;
      ++at;
      continue;
    }
    ++i;
    if (!readConversion(*c, name, at)) return false;
  }
  return at == name.size();
}

std::vector<std::string> namePatternParts(std::string_view pattern) {
  std::vector<std::string> parts(1);
  for (char ch : pattern) {
    if (isDirectorySeparator(ch)) parts.emplace_back();
    else parts.back() += ch;
  }
  return parts;
}

}  // namespace vorta
