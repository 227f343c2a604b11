#include "web/TimesReader.h"

#include <algorithm>
#include <cmath>

#include "archive/TimeMapLines.h"

namespace vorta::web {
namespace {

// A line of the map in this reader's terms; none when it is no S or L line.
std::optional<TimesLine> readLine(std::string_view text) {
  if (const auto s = parseSegment(text))
    return TimesLine{'S', s->at.epochMs, s->at.frame, s->at.offset, reasonName(s->reason), -1e9, -1e9};
  const auto l = parseLevel(text);
  if (!l) return {};
  const double peak = l->channels > 1 ? std::max(l->peakDb[0], l->peakDb[1]) : l->peakDb[0];
  return TimesLine{'L', l->at.epochMs, l->at.frame, l->at.offset, "", std::max(l->lufs.value_or(-1e9), -1e9),
                   std::max(peak, -1e9)};
}

// Bit rates (kbit/s) by index, MPEG-1 and MPEG-2/2.5 Layer III.
constexpr int kKbps[2][16] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
                              {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
constexpr int kRates[3] = {44100, 48000, 32000};

}  // namespace

std::optional<TimesMap> parseTimes(std::string_view text) {
  TimesMap map;
  map.lines.reserve(text.size() / 40);  // an L line is about 45 characters
  std::size_t at = 0;
  bool first = true;
  for (std::size_t end; (end = text.find('\n', at)) != std::string_view::npos; at = end + 1) {
    const std::string_view line = text.substr(at, end - at);
    if (first) {
      const auto header = parseHeader(line);
      if (!header) return {};
      map.header = TimesHeader{header->rate, header->channels, header->frameSamples, header->kbps, header->approx};
      first = false;
    } else if (auto parsed = readLine(line)) {
      map.lines.push_back(std::move(*parsed));
    }
  }
  if (first) return {};
  return map;
}

std::optional<TimesMap> approximateTimes(const unsigned char* h, std::uint64_t size, std::int64_t modifiedMs) {
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1) return {};  // Layer III
  const int version = (h[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  const int rateIndex = (h[2] >> 2) & 3;
  if (version == 1 || rateIndex == 3) return {};
  TimesMap map;
  map.header.kbps = kKbps[version == 3 ? 0 : 1][h[2] >> 4];
  map.header.rate = kRates[rateIndex] / (version == 3 ? 1 : version == 2 ? 2 : 4);
  map.header.frameSamples = version == 3 ? 1152 : 576;
  map.header.channels = (h[3] >> 6) == 3 ? 1 : 2;
  map.header.approx = true;
  if (map.header.kbps == 0) return {};
  const double frames = std::floor(double(size) / map.bytesPerFrame());
  const auto lengthMs = std::int64_t(frames * map.frameMs());
  map.lines.push_back(TimesLine{'S', modifiedMs - lengthMs, 0, 0, "start", -1e9, -1e9});
  return map;
}

}  // namespace vorta::web
