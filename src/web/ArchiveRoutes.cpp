#include "web/ArchiveRoutes.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "web/ArchiveSpan.h"
#include "web/LocalCalendar.h"
#include "web/ServeBytes.h"

namespace vorta::web {
namespace {

using nlohmann::json;

constexpr std::int64_t kLongestClipMs = 24 * 3600 * 1000;

Response notFound() { return Response::text(404, "Not found.\n"); }

Response jsonResponse(const json& value) {
  return Response::text(200, value.dump(), "application/json").with("Cache-Control", "no-cache");
}

// "rest" after "/prefix/": the next part up to '/', and what follows it.
std::string_view nextPart(std::string_view& rest) {
  const std::size_t slash = rest.find('/');
  const std::string_view part = rest.substr(0, slash);
  rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
  return part;
}

const Archive* find(const std::vector<Archive>& archives, std::string_view name) {
  for (const Archive& a : archives)
    if (a.name() == name) return &a;
  return nullptr;
}

json dayJson(const Archive& a, const Date& date, std::int64_t from, std::int64_t to, const ArchiveSpan& span,
             Clock& clock) {
  json files = json::array(), segments = json::array();
  for (const SpanFile& f : span.files)
    files.push_back({{"name", f.name}, {"url", "/files/" + a.name() + "/" + f.name}, {"bytes", f.bytes},
                     {"approx", f.approx}, {"startMs", f.startMs}, {"endMs", f.endMs}});
  for (const SpanSegment& s : span.segments)
    segments.push_back({{"startMs", s.startMs}, {"endMs", s.endMs}, {"streamStart", s.streamStart},
                        {"streamEnd", s.streamEnd}, {"reason", s.reason}, {"file", s.file}});
  return {{"archive", a.name()}, {"date", formatDate(date)}, {"startMs", from}, {"endMs", to},
          {"utcOffsetMinutes", utcOffsetMinutes(from, clock)}, {"kbps", span.kbps},
          {"stream", "/api/archives/" + a.name() + "/stream/" + formatDate(date) + ".mp3"},
          {"streamBytes", span.chain->size()}, {"files", files}, {"segments", segments}};
}

// The readings as [ms, lufs, peak] (null for none), written directly: a day
// has 8640 of them, and a JSON value each would cost most of the answer's time.
std::string levelsText(const std::vector<SpanLevel>& levels) {
  std::string text = "[";
  char item[80];
  const auto db = [](double v, char* out) { v <= -1e8 ? std::snprintf(out, 8, "null") : std::snprintf(out, 16, "%.1f", v); };
  for (const SpanLevel& l : levels) {
    char lufs[16], peak[16];
    db(l.lufs, lufs), db(l.peak, peak);
    std::snprintf(item, sizeof item, "%s[%lld,%s,%s]", text.size() > 1 ? "," : "", static_cast<long long>(l.ms), lufs, peak);
    text += item;
  }
  return text + "]";
}

Response dayResponse(const Archive& a, const Date& date, Clock& clock) {
  const std::int64_t from = localMoment(date, 0, 0, 0, clock), to = localMoment(nextDate(date), 0, 0, 0, clock);
  const ArchiveSpan span = spanOf(a, from, to, clock);
  std::string text = dayJson(a, date, from, to, span, clock).dump();
  text.pop_back();  // the object's '}': the readings go last
  return Response::text(200, text + ",\"levels\":" + levelsText(span.levels) + "}", "application/json")
      .with("Cache-Control", "no-cache");
}

Response month(const Archive& a, std::string_view text, Clock& clock) {
  const auto first = parseDate(std::string(text) + "-01");
  if (!first) return notFound();
  json days = json::array();
  for (Date d = *first; d.month == first->month; d = nextDate(d))
    if (a.anyFile(localMoment(d, 0, 0, 0, clock), localMoment(nextDate(d), 0, 0, 0, clock), clock))
      days.push_back(formatDate(d));
  return jsonResponse({{"archive", a.name()}, {"month", text}, {"days", days}});
}

std::string clockText(std::int64_t ms, Clock& clock) {
  const LocalTime t = clock.localTime(WallSeconds(std::chrono::seconds(ms / 1000)));
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d-%02d%02d%02d", t.year % 10000, t.month % 100,
                t.dayOfMonth % 100, t.hour % 100, t.minute % 100, t.second % 100);
  return text;
}

Response clip(const Archive& a, const Request& request, Clock& clock) {
  const std::string fromText = request.argument("from"), toText = request.argument("to");
  char* end = nullptr;
  const long long from = std::strtoll(fromText.c_str(), &end, 10);
  if (fromText.empty() || *end != '\0') return Response::text(400, "from= wants milliseconds since the epoch.\n");
  const long long to = std::strtoll(toText.c_str(), &end, 10);
  if (toText.empty() || *end != '\0' || to <= from || to - from > kLongestClipMs)
    return Response::text(400, "to= wants milliseconds since the epoch, after from=, at most a day later.\n");
  const ArchiveSpan span = spanOf(a, from, to, clock);
  if (span.chain->size() == 0) return Response::text(404, "Nothing was recorded then.\n");
  const std::string name = a.name() + "-" + clockText(from, clock) + "-" + clockText(to, clock).substr(11) + ".mp3";
  return serveChain(request, span.chain, "audio/mpeg")
      .with("Content-Disposition", "attachment; filename=\"" + name + "\"");
}

Response inArchive(const Archive& a, std::string_view rest, const Request& request, Clock& clock) {
  const std::string_view what = nextPart(rest);
  if (what == "month") return month(a, rest, clock);
  if (what == "clip" && rest.empty()) return clip(a, request, clock);
  if (what == "day") {
    const auto date = parseDate(rest);
    return date ? dayResponse(a, *date, clock) : notFound();
  }
  if (what == "stream" && rest.size() == 14 && rest.substr(10) == ".mp3") {
    const auto date = parseDate(rest.substr(0, 10));
    if (!date) return notFound();
    const ArchiveSpan span = spanOf(a, localMoment(*date, 0, 0, 0, clock), localMoment(nextDate(*date), 0, 0, 0, clock), clock);
    return serveChain(request, span.chain, "audio/mpeg");
  }
  return notFound();
}

}  // namespace

Response archiveRoute(const std::vector<Archive>& archives, const Request& request, Clock& clock) {
  std::string_view rest = request.path;
  if (rest.starts_with("/files/")) {
    rest.remove_prefix(7);
    const Archive* a = find(archives, nextPart(rest));
    if (a == nullptr) return notFound();
    auto file = a->open(rest);
    return file ? serveFile(request, std::move(*file), "audio/mpeg") : notFound();
  }
  if (rest == "/api/archives") {
    json list = json::array();
    for (const Archive& a : archives) list.push_back({{"name", a.name()}, {"pattern", a.config().pattern}});
    return jsonResponse({{"archives", list}, {"today", formatDate(dateOf(clock.localNow()))}});
  }
  if (!rest.starts_with("/api/archives/")) return notFound();
  rest.remove_prefix(14);
  const Archive* a = find(archives, nextPart(rest));
  return a ? inArchive(*a, rest, request, clock) : notFound();
}

}  // namespace vorta::web
