// Decoding MP3 for tests: libmpg123 turns a file (or bytes) into interleaved
// 16-bit samples, with the stream's rate and channel count and what each
// frame header said. No gapless trimming: the output holds the encoder's
// delay and padding, exactly as a plain player would produce them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorta::test {

struct Mp3Frame {
  int bitrate = 0;      // kbit/s from the header
  long rate = 0;        // Hz
  int mode = 0;         // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
  int version = 0;      // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
  bool original = false;
  bool crc = false;
  int emphasis = 0;
};

struct DecodedMp3 {
  bool ok = false;          // false: see error
  std::string error;
  long rate = 0;
  int channels = 0;
  std::vector<std::int16_t> samples;  // interleaved
  std::vector<Mp3Frame> frames;       // one entry per decoded frame

  std::size_t sampleFrames() const { return channels ? samples.size() / channels : 0; }
  double seconds() const { return rate ? double(sampleFrames()) / double(rate) : 0.0; }
  // One channel's samples (0 left / mono, 1 right).
  std::vector<std::int16_t> channel(int index) const;
};

DecodedMp3 decodeMp3File(const std::string& path);
DecodedMp3 decodeMp3Bytes(const std::vector<std::uint8_t>& bytes);

// The frequency (Hz) with the most energy between minHz and maxHz in mono
// samples, found by a coarse Goertzel scan refined around the best step.
// Looks at up to 8192 samples from the middle of the signal; a narrow
// maxHz keeps it quick.
double dominantFrequency(const std::vector<std::int16_t>& mono, long rate, double minHz = 20.0,
                         double maxHz = 0.0 /* 0: rate / 2 */);

// Interleaved sine tones, one frequency per channel, amplitude in full scale.
std::vector<std::int16_t> makeTone(long rate, int channels, std::size_t sampleFrames,
                                   const std::vector<double>& hzPerChannel,
                                   double amplitude = 0.5);

// Reads a whole file; empty when it cannot be read.
std::vector<std::uint8_t> readFileBytes(const std::string& path);

}  // namespace vorta::test
