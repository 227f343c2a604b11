// The lines of a time map (NAME.times beside NAME, see docs/time-map.md):
// their values, and each line written and read as text.
//
//   vorta-times 1 rate=<Hz> channels=<1|2> frame-samples=<576|1152> kbps=<bitrate>[ approx]
//   S <epoch_ms> <frame_index> <byte_offset> <reason>
//   L <epoch_ms> <frame_index> <byte_offset> <lufs|-inf|-> <peak1_dbfs> [<peak2_dbfs>]
//
// Contract: pure functions and plain values, for the recorder that writes
// the lines and for any program that reads them; no file is touched here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/TimeStamps.h"

namespace vorta {

struct TimeMapHeader {
  int rate = 44100;          // samples per second
  int channels = 2;
  int frameSamples = 1152;   // per channel in one MP3 frame: 1152 MPEG-1, 576 MPEG-2/2.5
  int kbps = 128;
  bool approx = false;       // rebuilt from the MP3 alone, not recorded

  // A frame's length in ms, and its average length in bytes (padding spread
  // evenly), both for a constant bitrate.
  double frameMs() const { return 1000.0 * frameSamples / rate; }
  double frameBytes() const { return frameSamples / 8.0 * kbps * 1000.0 / rate; }
};

// Where in the MP3 a moment's sound lies: the first frame that holds it.
struct FramePlace {
  std::int64_t epochMs = 0;  // when it was captured, ms since 1970-01-01 UTC
  std::uint64_t frame = 0;   // frame index in the file, from 0
  std::uint64_t offset = 0;  // byte offset of that frame's header
};

// S: a stretch of continuous sound begins (never with reason Continued).
struct SegmentLine {
  FramePlace at;
  SegmentReason reason = SegmentReason::Start;
};

// L: the 10 s of sound that end at `at`: short-term loudness (EBU R128,
// LUFS; -infinity for digital silence, none when not measured) and each
// channel's peak in dBFS (-infinity for silence).
struct LevelLine {
  FramePlace at;
  std::optional<double> lufs;
  int channels = 2;
  std::array<double, 2> peakDb{};
};

// Each line without its line feed.
std::string headerText(const TimeMapHeader& header);
std::string segmentText(const SegmentLine& line);
std::string levelText(const LevelLine& line);

// None when the text is no such line.
std::optional<TimeMapHeader> parseHeader(std::string_view text);
std::optional<SegmentLine> parseSegment(std::string_view text);
std::optional<LevelLine> parseLevel(std::string_view text);

const char* reasonName(SegmentReason reason);

// A peak (0..32768 of 16-bit sound) in dBFS.
double dbfsOf(std::int32_t peak);

}  // namespace vorta
