#include "web/ArchiveSpan.h"

#include <algorithm>

namespace vorta::web {
namespace {

void addLevels(const Recording& r, std::int64_t fromMs, std::int64_t toMs, ArchiveSpan& span) {
  for (const LevelLine& line : r.map.levels()) {
    if (line.at.epochMs < fromMs || line.at.epochMs >= toMs) continue;
    const double peak = line.channels > 1 ? std::max(line.peakDb[0], line.peakDb[1]) : line.peakDb[0];
    span.levels.push_back(SpanLevel{line.at.epochMs, std::max(line.lufs.value_or(-1e9), -1e9), std::max(peak, -1e9)});
  }
}

}  // namespace

ArchiveSpan spanOf(const Archive& archive, std::int64_t fromMs, std::int64_t toMs, Clock& clock) {
  ArchiveSpan span;
  for (Recording& r : archive.recordings(fromMs, toMs, clock)) {
    const std::uint64_t from = byteAt(r, fromMs), to = byteAt(r, toMs);
    if (to <= from) continue;
    if (span.kbps == 0) span.kbps = r.map.header().kbps;
    const std::uint64_t at = span.chain->size();
    for (const Segment& s : r.segments) {
      const std::int64_t start = std::max(s.startMs, fromMs), end = std::min(s.endMs, toMs);
      if (end <= start) continue;
      const std::uint64_t first = std::max(byteAt(r, start), from), last = std::min(byteAt(r, end), to);
      span.segments.push_back(SpanSegment{start, end, at + first - from, at + last - from, s.reason, r.name});
    }
    addLevels(r, fromMs, toMs, span);
    span.files.push_back(SpanFile{r.name, r.file.version().size, r.map.header().approx, r.startMs(), r.endMs()});
    span.chain->add(std::move(r.file), from, to);
  }
  return span;
}

}  // namespace vorta::web
