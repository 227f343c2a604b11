// MP3 files as the tests check them: walked header by header (every byte in
// a whole Layer III frame) and decoded with libmpg123 into 16-bit samples,
// with what each frame header said. No gapless trimming: the samples hold
// the encoder's delay and padding, as a plain player produces them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Signals.h"

namespace vorta::test {

struct Mp3Frame {
  int bitrate = 0;  // kbit/s
  long rate = 0;    // Hz
  int mode = 0;     // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
  int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
  bool original = false;
  bool crc = false;
  int emphasis = 0;
};

struct DecodedMp3 {
  bool ok = false;  // false: see error
  std::string error;
  long rate = 0;
  int channels = 0;
  std::vector<std::int16_t> samples;  // interleaved
  std::vector<Mp3Frame> frames;       // one per decoded frame

  std::size_t sampleFrames() const { return channels ? samples.size() / std::size_t(channels) : 0; }
  double seconds() const { return rate ? double(sampleFrames()) / double(rate) : 0.0; }
  std::vector<std::int16_t> channel(int index) const;  // 0 left or mono, 1 right
};

DecodedMp3 decodeMp3File(const std::string& path);
DecodedMp3 decodeMp3Bytes(const std::vector<std::uint8_t>& bytes);

// The frames from the first byte on, by their headers' own lengths (MPEG-1,
// 2 and 2.5, with padding). whole: every byte is in a complete frame, no tag,
// no junk, nothing cut short at the end; otherwise why says what was found
// where. ends: the offset after each complete frame.
struct FrameWalk {
  bool whole = false;
  std::size_t frames = 0;
  std::size_t samplesPerFrame = 0;  // of the first frame: 1152 (MPEG-1) or 576
  std::vector<std::size_t> ends;
  std::string why;
};
FrameWalk walkFrames(const std::vector<std::uint8_t>& bytes);

// A whole file; empty when it cannot be read.
std::vector<std::uint8_t> readFileBytes(const std::string& path);

}  // namespace vorta::test
