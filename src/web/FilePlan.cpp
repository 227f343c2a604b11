#include "web/FilePlan.h"

#include <cstdio>
#include <limits>
#include <optional>

#include "web/HttpDate.h"

namespace vorta::web {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Decimal digits only, no sign, no overflow; empty text is no number.
std::optional<std::uint64_t> number(std::string_view text) {
  if (text.empty()) return {};
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return {};
    if (value > (std::numeric_limits<std::uint64_t>::max() - 9) / 10) return {};
    value = value * 10 + std::uint64_t(c - '0');
  }
  return value;
}

// Whether a list of entity tags ("a", W/"b", or *) holds this one. The weak
// comparison, as If-None-Match asks.
bool tagListHolds(std::string_view list, const std::string& tag) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    std::string_view item = trimmed(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    if (item == "*") return true;
    if (item.substr(0, 2) == "W/") item.remove_prefix(2);
    if (item == tag) return true;
  }
  return false;
}

struct Range {
  bool satisfiable = false;
  std::uint64_t offset = 0, length = 0;
};

std::optional<Range> parseRange(std::string_view header, std::uint64_t size) {
  header = trimmed(header);
  if (header.substr(0, 6) != "bytes=") return {};
  const std::string_view asked = trimmed(header.substr(6));
  const std::size_t dash = asked.find('-');
  if (dash == std::string_view::npos || asked.find(',') != std::string_view::npos) return {};
  const std::string_view first = trimmed(asked.substr(0, dash)), last = trimmed(asked.substr(dash + 1));
  if (first.empty()) {  // the last N bytes
    const auto suffix = number(last);
    if (!suffix) return {};
    if (*suffix == 0 || size == 0) return Range{};
    const std::uint64_t length = *suffix < size ? *suffix : size;
    return Range{true, size - length, length};
  }
  const auto from = number(first);
  const auto to = last.empty() ? std::optional<std::uint64_t>(size - 1) : number(last);
  if (!from || !to || (!last.empty() && *to < *from)) return {};
  if (*from >= size) return Range{};
  const std::uint64_t end = *to < size - 1 ? *to : size - 1;
  return Range{true, *from, end - *from + 1};
}

bool notModified(const FileVersion& version, const Conditions& c, const std::string& tag) {
  if (!c.ifNoneMatch.empty()) return tagListHolds(c.ifNoneMatch, tag);
  const auto since = parseHttpDate(trimmed(c.ifModifiedSince));
  return since && version.modifiedNs / 1000000000 <= *since;
}

// If-Range: the range applies only to the version the client already holds.
bool rangeApplies(const FileVersion& version, std::string_view ifRange, const std::string& tag) {
  ifRange = trimmed(ifRange);
  if (ifRange.empty()) return true;
  if (ifRange.front() == '"') return ifRange == tag;
  const auto date = parseHttpDate(ifRange);
  return date && version.modifiedNs / 1000000000 == *date;
}

}  // namespace

std::string entityTag(const FileVersion& version) {
  char text[64];
  std::snprintf(text, sizeof text, "\"%llx-%llx\"", static_cast<unsigned long long>(version.size),
                static_cast<unsigned long long>(version.modifiedNs));
  return text;
}

FilePlan planFile(const FileVersion& version, const Conditions& conditions) {
  const std::string tag = entityTag(version);
  if (notModified(version, conditions, tag)) return {304, 0, 0};
  const FilePlan whole{200, 0, version.size};
  if (conditions.range.empty() || !rangeApplies(version, conditions.ifRange, tag)) return whole;
  const auto range = parseRange(conditions.range, version.size);
  if (!range) return whole;
  if (!range->satisfiable) return {416, 0, 0};
  return {206, range->offset, range->length};
}

}  // namespace vorta::web
