#include "archive/TimeMap.h"

#include <algorithm>
#include <cmath>

namespace vorta {

std::optional<TimeMap> TimeMap::parse(std::string_view text) {
  const std::size_t headerEnd = text.find('\n');
  if (headerEnd == std::string_view::npos) return std::nullopt;
  const std::optional<TimeMapHeader> header = parseHeader(text.substr(0, headerEnd));
  if (!header) return std::nullopt;
  TimeMap map;
  map.header_ = *header;
  for (std::size_t from = headerEnd + 1; from < text.size();) {
    const std::size_t end = text.find('\n', from);
    if (end == std::string_view::npos) {  // torn: no line feed
      ++map.skipped_;
      break;
    }
    const std::string_view line = text.substr(from, end - from);
    from = end + 1;
    if (const std::optional<SegmentLine> s = parseSegment(line)) {
      map.segments_.push_back(*s);
    } else if (const std::optional<LevelLine> l = parseLevel(line)) {
      map.levels_.push_back(*l);
    } else {
      ++map.skipped_;
    }
  }
  const auto byFrame = [](const auto& a, const auto& b) { return a.at.frame < b.at.frame; };
  std::stable_sort(map.segments_.begin(), map.segments_.end(), byFrame);
  std::stable_sort(map.levels_.begin(), map.levels_.end(), byFrame);
  return map;
}

TimeMap TimeMap::rebuilt(const MpegHeader& first, std::uint64_t frames, std::int64_t endMs) {
  TimeMap map;
  map.header_ = {first.rate, first.channels, first.frameSamples, first.kbps, true};
  const auto lengthMs = static_cast<std::int64_t>(
      std::llround(static_cast<double>(frames) * map.header_.frameMs()));
  map.segments_.push_back({{endMs - lengthMs, 0, 0}, SegmentReason::Start});
  return map;
}

std::optional<std::int64_t> TimeMap::startMs() const {
  if (segments_.empty()) return std::nullopt;
  return segments_.front().at.epochMs;
}

std::int64_t TimeMap::endMs(std::uint64_t fileBytes) const {
  return segments_.empty() ? 0 : segmentEndMs(segments_.size() - 1, fileBytes);
}

std::uint64_t TimeMap::framesIn(std::uint64_t fileBytes) const {
  return static_cast<std::uint64_t>(std::llround(static_cast<double>(fileBytes) / header_.frameBytes()));
}

// `frames` frames on from a place, counted at the constant bitrate.
FramePlace TimeMap::counted(const FramePlace& from, std::uint64_t frames) const {
  const double n = static_cast<double>(frames);
  return {from.epochMs + static_cast<std::int64_t>(std::floor(n * header_.frameMs() + 0.5)),
          from.frame + frames,
          from.offset + static_cast<std::uint64_t>(std::floor(n * header_.frameBytes()))};
}

// The segment's S line and the L lines within it, in frame order.
std::vector<FramePlace> TimeMap::anchorsOf(std::size_t segment) const {
  const std::uint64_t first = segments_[segment].at.frame;
  const std::uint64_t next =
      segment + 1 < segments_.size() ? segments_[segment + 1].at.frame : UINT64_MAX;
  std::vector<FramePlace> anchors{segments_[segment].at};
  for (const LevelLine& l : levels_)
    if (l.at.frame > first && l.at.frame < next) anchors.push_back(l.at);
  return anchors;
}

std::int64_t TimeMap::segmentEndMs(std::size_t index, std::uint64_t fileBytes) const {
  const std::uint64_t end =
      index + 1 < segments_.size() ? segments_[index + 1].at.frame : framesIn(fileBytes);
  const FramePlace last = anchorsOf(index).back();
  return counted(last, end > last.frame ? end - last.frame : 0).epochMs;
}

std::optional<FramePlace> TimeMap::placeAt(std::int64_t epochMs, std::uint64_t fileBytes) const {
  if (segments_.empty() || epochMs < segments_.front().at.epochMs) return std::nullopt;
  for (std::size_t i = 0; i < segments_.size(); ++i) {
    if (epochMs < segments_[i].at.epochMs) return segments_[i].at;  // in the gap before it
    if (epochMs >= segmentEndMs(i, fileBytes)) continue;
    const std::vector<FramePlace> anchors = anchorsOf(i);
    const FramePlace* from = &anchors.front();
    for (const FramePlace& a : anchors)
      if (a.epochMs <= epochMs) from = &a;
    const auto frames = static_cast<std::uint64_t>(
        std::floor(static_cast<double>(epochMs - from->epochMs) / header_.frameMs()));
    return counted(*from, frames);
  }
  return std::nullopt;
}

std::optional<std::int64_t> TimeMap::timeAt(std::uint64_t offset) const {
  const FramePlace* from = nullptr;
  for (const SegmentLine& s : segments_)
    if (s.at.offset <= offset) from = &s.at;
  if (!from) return std::nullopt;
  for (const LevelLine& l : levels_)
    if (l.at.offset <= offset && l.at.frame > from->frame) from = &l.at;
  const auto frames = static_cast<std::uint64_t>(
      std::floor(static_cast<double>(offset - from->offset) / header_.frameBytes() + 0.01));
  return counted(*from, frames).epochMs;
}

}  // namespace vorta
