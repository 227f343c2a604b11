// Signals to play into the test server, and MP3 decoded with libmpg123
// without gapless trimming (the encoder's delay and padding stay).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorta::test {
using Samples = std::vector<std::int16_t>;

// Interleaved 16-bit samples built piece by piece. A time code's pitch steps
// up 40 Hz every tenth of a second from 400 Hz and turns every 8 s, so the
// pitch anywhere in a recording tells which moment of the playback it holds.
class TestSignal {
 public:
  TestSignal(int rate, int channels) : rate_(rate), channels_(channels) {}
  TestSignal& silence(double seconds);
  TestSignal& fullScale(double seconds);  // a 1 kHz square wave, every sample at +-32767
  TestSignal& timeCode(double from, double seconds);  // the code's moments from..from+seconds
  int rate() const { return rate_; }
  int channels() const { return channels_; }
  bool writeRaw(const std::string& path) const;  // little-endian, for paplay --raw
  const Samples& samples() const { return samples_; }
 private:
  TestSignal& tone(double hz, double seconds, double amplitude = 0.5);
  int rate_, channels_;
  double phase_ = 0;
  Samples samples_;
};
struct TimeCode {
  static constexpr double kStep = 0.1, kTurn = 8.0;
  static TestSignal signal(double seconds) { return TestSignal(48000, 2).timeCode(0, seconds); }
  // The moment heard in each tenth of a second (-1 where none is clear).
  static std::vector<double> read(const Samples& mono, long rate);
};
// The first and last moment heard (the last at lastAt seconds of the recording), and the
// most sound missing between readings.
struct CodeHeard { double first = -1, last = -1, lost = 0, firstAt = -1, lastAt = -1; };
CodeHeard codeHeard(const std::vector<double>& moments);

struct Mp3Frame {
  int bitrate = 0;  // kbit/s
  long rate = 0;
  int mode = 0;     // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
  int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
  bool original = false, crc = false;
  int emphasis = 0;
};
struct DecodedMp3 {
  bool ok = false;
  std::string error;
  long rate = 0, channels = 0;
  Samples samples;  // interleaved
  std::vector<Mp3Frame> frames;
  std::size_t sampleFrames() const { return channels ? samples.size() / std::size_t(channels) : 0; }
  double seconds() const { return rate ? double(sampleFrames()) / double(rate) : 0.0; }
  Samples channel(int index) const;
};
DecodedMp3 decodeMp3Bytes(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFileBytes(const std::string& path);  // empty when unreadable
// Empty when every byte is in a whole Layer III frame (by the headers' own
// lengths), else what was found where; sampleFrames: what the frames hold.
std::string framesNotWhole(const std::vector<std::uint8_t>& bytes, std::size_t& sampleFrames);

// Interleaved sines, one frequency per channel.
Samples makeTone(long rate, int channels, std::size_t sampleFrames,
                 const std::vector<double>& hzPerChannel, double amplitude = 0.5);
}  // namespace vorta::test
