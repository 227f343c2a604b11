// Sound for the tests: signals made to be played into the test server, MP3
// files walked frame by frame and decoded with libmpg123 (no gapless
// trimming: the encoder's delay and padding stay, as a plain player plays
// them), and the measures read back from the samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorta::test {

using Samples = std::vector<std::int16_t>;

// Interleaved 16-bit samples built piece by piece, e.g.
// TestSignal(48000, 2).tone(1000, 1).silence(6). A tone's phase runs on from
// the one before, so tones join without a click.
//
// A time code is a tone whose pitch steps up 40 Hz every tenth of a second
// from 400 Hz and starts again every 8 s: the pitch anywhere in a recording
// tells which moment of the playback it holds, even at 8 kHz.
class TestSignal {
 public:
  TestSignal(int rate, int channels) : rate_(rate), channels_(channels) {}
  TestSignal& tone(double hz, double seconds, double amplitude = 0.5);
  TestSignal& silence(double seconds);
  TestSignal& timeCode(double from, double seconds);  // the code's moments from..from+seconds
  int rate() const { return rate_; }
  int channels() const { return channels_; }
  bool writeRaw(const std::string& path) const;  // little-endian, for paplay --raw

 private:
  int rate_, channels_;
  double phase_ = 0;
  Samples samples_;
};

struct TimeCode {
  static constexpr double kStep = 0.1, kTurn = 8.0;
  static TestSignal signal(double seconds) { return TestSignal(48000, 2).timeCode(0, seconds); }
  // The playback moment heard in each tenth of a second (counted on across
  // turns, so jumps must stay under half a turn); -1 where none is clear.
  static std::vector<double> read(const Samples& mono, long rate);
};
// The first and last moment heard, and the most sound missing between two
// neighbouring readings: about 0 when unbroken (a tenth is the reading's own).
struct CodeHeard {
  double first = -1, last = -1, lost = 0;
};
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
  long rate = 0;
  int channels = 0;
  Samples samples;  // interleaved
  std::vector<Mp3Frame> frames;
  std::size_t sampleFrames() const { return channels ? samples.size() / std::size_t(channels) : 0; }
  double seconds() const { return rate ? double(sampleFrames()) / double(rate) : 0.0; }
  Samples channel(int index) const;
};
DecodedMp3 decodeMp3File(const std::string& path);
DecodedMp3 decodeMp3Bytes(const std::vector<std::uint8_t>& bytes);

// The frames by their headers' own lengths (MPEG-1, 2 and 2.5, padding).
// whole: every byte in a complete frame (no tag, no junk, nothing cut short);
// otherwise why says what was found where. ends: the offset after each frame.
struct FrameWalk {
  bool whole = false;
  std::size_t frames = 0, samplesPerFrame = 0;  // 1152 for MPEG-1, else 576
  std::vector<std::size_t> ends;
  std::string why;
};
FrameWalk walkFrames(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFileBytes(const std::string& path);  // empty when unreadable

// Interleaved sines, one frequency per channel.
Samples makeTone(long rate, int channels, std::size_t sampleFrames,
                 const std::vector<double>& hzPerChannel, double amplitude = 0.5);
// The strongest frequency in minHz..maxHz (0: rate / 2), from up to 8192
// samples in the middle.
double dominantFrequency(const Samples& mono, long rate, double minHz = 20.0, double maxHz = 0.0);
}  // namespace vorta::test
