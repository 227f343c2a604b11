// Reading a recording's time map ("NAME.mp3.times", written beside each file
// by the recorder; docs/time-map.md): which wall-clock moment each stretch of
// frames holds, and the loudness every 10 s, lines read by the archive
// library's parsers. A file without one gets an approximate map from its
// first frame header, its size and its modification time.
//
// Pure: any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorta::web {

struct TimesHeader {
  int rate = 0, channels = 0, frameSamples = 0, kbps = 0;
  bool approx = false;
};

// One line of the map: the first frame of a segment (S), or a level reading (L).
struct TimesLine {
  char kind = 'S';
  std::int64_t epochMs = 0;
  std::uint64_t frame = 0, byte = 0;
  const char* reason = "";     // S: start, append, silence, overrun, stall, restart
  double lufs = -1e9;          // L: short-term loudness, -1e9 for -inf or not measured
  double peak = -1e9;          // L: the larger channel peak, dBFS; -1e9 for -inf
};

struct TimesMap {
  TimesHeader header;
  std::vector<TimesLine> lines;  // in the file's order

  double frameMs() const { return header.rate ? header.frameSamples * 1000.0 / header.rate : 0; }
  double bytesPerFrame() const { return header.kbps * 125.0 * frameMs() / 1000.0; }
};

// The map in `text`; a last line without its newline (torn by a crash) and
// lines that do not read are left out. Empty when the first line is no header.
std::optional<TimesMap> parseTimes(std::string_view text);
// The map of a file without one: one segment ending at its modification time.
std::optional<TimesMap> approximateTimes(const unsigned char* firstHeader, std::uint64_t size,
                                         std::int64_t modifiedMs);

}  // namespace vorta::web
