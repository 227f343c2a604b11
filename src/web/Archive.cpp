#include "web/Archive.h"

#include <algorithm>
#include <cmath>

#include "base/NamePattern.h"
#include "encode/MpegFrame.h"

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

std::vector<Segment> segmentsOf(const TimesMap& map, std::uint64_t size) {
  std::vector<const TimesLine*> starts;
  for (const TimesLine& line : map.lines)
    if (line.kind == 'S' && line.byte <= size && (starts.empty() || line.byte >= starts.back()->byte))
      starts.push_back(&line);
  std::vector<Segment> segments;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const TimesLine& s = *starts[i];
    const bool last = i + 1 == starts.size();
    const double frames = last ? std::floor(double(size - s.byte) / map.bytesPerFrame())
                               : double(starts[i + 1]->frame - s.frame);
    const std::uint64_t endByte = last ? s.byte + std::uint64_t(frames * map.bytesPerFrame() + 0.5) : starts[i + 1]->byte;
    segments.push_back(Segment{s.epochMs, s.epochMs + std::int64_t(std::llround(frames * map.frameMs())),
                               s.byte, std::min(endByte, size), s.reason});
  }
  return segments;
}

// Whether a frame starts at `at` in `bytes` and the next one starts where it ends.
bool frameChainAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  if (at + 4 > bytes.size()) return false;
  const std::uint32_t length = mpegFrameLength(&bytes[at]);
  if (length == 0) return false;
  return at + length + 4 > bytes.size() || mpegFrameLength(&bytes[at + length]) != 0;
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
  std::optional<TimesMap> map;
  if (auto times = openBelow(config_.folder, *parts)) map = parseTimes(readAll(*times));
  unsigned char header[4] = {};
  if (!map && file->readAt(0, header, 4) == 4)
    map = approximateTimes(header, file->version().size, file->version().modifiedNs / 1000000);
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
  const auto segment = std::find_if(r.segments.begin(), r.segments.end(), [&](const Segment& s) { return s.endMs > ms; });
  if (segment == r.segments.end()) return r.segments.empty() ? 0 : r.segments.back().endByte;
  if (ms <= segment->startMs) return segment->startByte;
  // The last reading of the map at or before the moment within the segment.
  const TimesLine* anchor = nullptr;
  for (const TimesLine& line : r.map.lines)
    if (line.byte >= segment->startByte && line.byte < segment->endByte && line.epochMs <= ms) anchor = &line;
  if (anchor == nullptr) return segment->startByte;
  const double frames = std::ceil(double(ms - anchor->epochMs) / r.map.frameMs());
  const auto guess = std::uint64_t(double(anchor->byte) + frames * r.map.bytesPerFrame());
  if (guess >= segment->endByte) return segment->endByte;
  // The estimate is within a byte or two of a frame start: look for the chain.
  const std::uint64_t from = guess > 8 ? guess - 8 : 0;
  std::vector<std::uint8_t> window(4096);
  const long long n = r.file.readAt(from, window.data(), window.size());
  window.resize(n > 0 ? std::size_t(n) : 0);
  for (std::size_t at = 0; at < window.size(); ++at)
    if (frameChainAt(window, at) && from + at >= segment->startByte) return std::min(from + at, segment->endByte);
  return std::min(guess, segment->endByte);
}

}  // namespace vorta::web
