#include "web/TimesReader.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace vorta::web {
namespace {

bool readHeader(const std::string& line, TimesHeader& h) {
  std::istringstream in(line);
  std::string magic, version, word;
  if (!(in >> magic >> version) || magic != "vorta-times" || version != "1") return false;
  while (in >> word) {
    const std::size_t eq = word.find('=');
    const std::string key = word.substr(0, eq);
    const int value = eq == std::string::npos ? 0 : std::atoi(word.c_str() + eq + 1);
    if (key == "rate") h.rate = value;
    else if (key == "channels") h.channels = value;
    else if (key == "frame-samples") h.frameSamples = value;
    else if (key == "kbps") h.kbps = value;
    else if (key == "approx") h.approx = true;
  }
  return h.rate > 0 && h.frameSamples > 0 && h.kbps > 0 && (h.channels == 1 || h.channels == 2);
}

double decibels(const std::string& word) { return word == "-inf" ? -1e9 : std::strtod(word.c_str(), nullptr); }

std::optional<TimesLine> readLine(const std::string& text) {
  std::istringstream in(text);
  TimesLine line;
  std::string kind;
  if (!(in >> kind >> line.epochMs >> line.frame >> line.byte) || (kind != "S" && kind != "L")) return {};
  line.kind = kind[0];
  std::string word;
  if (line.kind == 'S') {
    if (!(in >> line.reason)) return {};
    return line;
  }
  if (!(in >> word)) return {};
  line.lufs = decibels(word);
  while (in >> word) line.peaks.push_back(decibels(word));
  if (line.peaks.empty()) return {};
  return line;
}

// Bit rates (kbit/s) by index, MPEG-1 and MPEG-2/2.5 Layer III.
constexpr int kKbps[2][16] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
                              {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
constexpr int kRates[3] = {44100, 48000, 32000};

}  // namespace

std::optional<TimesMap> parseTimes(std::string_view text) {
  TimesMap map;
  std::size_t at = 0;
  bool first = true;
  for (std::size_t end; (end = text.find('\n', at)) != std::string_view::npos; at = end + 1) {
    const std::string line(text.substr(at, end - at));
    if (first) {
      if (!readHeader(line, map.header)) return {};
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
  map.lines.push_back(TimesLine{'S', modifiedMs - lengthMs, 0, 0, "start", -1e9, {}});
  return map;
}

}  // namespace vorta::web
