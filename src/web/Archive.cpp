#include "web/Archive.h"

#include <algorithm>
#include <cmath>

#include "base/NamePattern.h"
#include "archive/MpegHeader.h"

namespace vorta::web {
namespace {

constexpr std::uint64_t kLargestMap = 8u << 20;  // a year of lines is far less

std::vector<std::string> split(std::string_view name) {
  std::vector<std::string> parts(1);
  for (char c : name) {
    if (c == '/') parts.emplace_back();
    else parts.back() += c;
  }
  return parts;
}

std::string readAll(const ReadOnlyFile& file) {
  const std::uint64_t size = std::min(file.version().size, kLargestMap);
  std::string text(size, '\0');
  const long long n = file.readAt(0, text.data(), text.size());
  text.resize(n > 0 ? std::size_t(n) : 0);
  return text;
}

std::vector<Segment> segmentsOf(const TimeMap& map, std::uint64_t size) {
  const std::vector<SegmentLine>& lines = map.segments();
  std::vector<Segment> segments;
  for (std::size_t i = 0; i < lines.size() && lines[i].at.offset <= size; ++i) {
    const std::uint64_t end = i + 1 < lines.size() ? std::min(lines[i + 1].at.offset, size) : size;
    segments.push_back(Segment{lines[i].at.epochMs, map.segmentEndMs(i, size), lines[i].at.offset, end,
                               reasonName(lines[i].reason)});
  }
  return segments;
}

// The map of a file without one, from its first frame, size and age.
std::optional<TimeMap> rebuiltMap(const ReadOnlyFile& file) {
  std::uint8_t bytes[4] = {};
  if (file.readAt(0, bytes, 4) != 4) return {};
  const auto first = parseMpegHeader(bytes);
  if (!first) return {};
  const double frameBytes = first->frameSamples / 8.0 * first->kbps * 1000.0 / first->rate;
  return TimeMap::rebuilt(*first, std::uint64_t(double(file.version().size) / frameBytes),
                          file.version().modifiedNs / 1000000);
}

}  // namespace

Archive::Archive(ArchiveConfig config)
    : config_(std::move(config)),
      parts_(namePatternParts(config_.pattern)),
      slotSeconds_(config_.pattern.find("%M") != std::string::npos ? 60 : 3600) {}

std::optional<std::vector<std::string>> Archive::partsOf(std::string_view name) const {
  std::vector<std::string> parts = split(name);
  if (parts.size() != parts_.size()) return {};
  for (std::size_t i = 0; i < parts.size(); ++i)
    if (!matchesNamePattern(parts_[i], parts[i])) return {};
  return parts;
}

std::optional<ReadOnlyFile> Archive::open(std::string_view name) const {
  const auto parts = partsOf(name);
  if (!parts) return {};
  return openBelow(config_.folder, *parts);
}

std::vector<std::string> Archive::namesBetween(std::int64_t fromMs, std::int64_t toMs, Clock& clock) const {
  std::vector<std::string> names;
  for (std::int64_t s = fromMs / 1000 - slotSeconds_; s < toMs / 1000 + slotSeconds_; s += slotSeconds_) {
    std::string name = formatNamePattern(config_.pattern, clock.localTime(WallSeconds(std::chrono::seconds(s))));
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
  }
  return names;
}

std::optional<Recording> Archive::load(const std::string& name) const {
  auto parts = partsOf(name);
  if (!parts) return {};
  auto file = openBelow(config_.folder, *parts);
  if (!file) return {};
  parts->back() += ".times";
  std::optional<TimeMap> map;
  if (auto times = openBelow(config_.folder, *parts)) map = TimeMap::parse(readAll(*times));
  if (!map) map = rebuiltMap(*file);
  if (!map) return {};
  std::vector<Segment> segments = segmentsOf(*map, file->version().size);
  return Recording{name, std::move(*file), std::move(*map), std::move(segments)};
}

std::vector<Recording> Archive::recordings(std::int64_t fromMs, std::int64_t toMs, Clock& clock) const {
  std::vector<Recording> found;
  for (const std::string& name : namesBetween(fromMs, toMs, clock)) {
    auto recording = load(name);
    if (recording && !recording->segments.empty() && recording->startMs() < toMs && recording->endMs() > fromMs)
      found.push_back(std::move(*recording));
  }
  std::sort(found.begin(), found.end(), [](const Recording& a, const Recording& b) { return a.startMs() < b.startMs(); });
  return found;
}

bool Archive::anyFile(std::int64_t fromMs, std::int64_t toMs, Clock& clock) const {
  for (const std::string& name : namesBetween(fromMs, toMs, clock)) {
    const auto file = open(name);
    // A file of an earlier cycle under the same name was last written before.
    if (file && file->version().modifiedNs / 1000000 > fromMs) return true;
  }
  return false;
}

std::uint64_t byteAt(const Recording& r, std::int64_t ms) {
  if (r.segments.empty()) return 0;
  const std::uint64_t size = r.file.version().size;
  const auto place = r.map.placeAt(ms, size);
  if (!place) return ms < r.startMs() ? r.segments.front().startByte : r.segments.back().endByte;
  // The place is counted at the average frame length: within a byte or two
  // of a frame header, which the frames around it show.
  const std::uint64_t from = place->offset > 8 ? place->offset - 8 : 0;
  std::vector<std::uint8_t> window(8192);
  const long long n = r.file.readAt(from, window.data(), window.size());
  window.resize(n > 0 ? std::size_t(n) : 0);
  const auto start = nextFrameStart(window, 0);
  return std::min(start ? from + *start : place->offset, size);
}

}  // namespace vorta::web
