// Test sound: tones, silence and a time code, made as 16-bit samples to be
// played into the test server; and the measures the tests read back from a
// decoded recording (pitch, loud stretches, the time code).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorta::test {

// Interleaved samples built piece by piece:
//   TestSignal(48000, 2).tone(1000, 1).silence(6).tone(1000, 1)
class TestSignal {
 public:
  TestSignal(int rate, int channels) : rate_(rate), channels_(channels) {}
  // A sine, the same in every channel; its phase runs on from the previous
  // tone, so consecutive tones join without a click. Half of full scale by
  // default: loud, far from clipping after resampling.
  TestSignal& tone(double hz, double seconds, double amplitude = 0.5);
  TestSignal& silence(double seconds);
  int rate() const { return rate_; }
  int channels() const { return channels_; }
  double seconds() const { return double(samples_.size()) / channels_ / rate_; }
  const std::vector<std::int16_t>& samples() const { return samples_; }
  // The samples as raw little-endian bytes (paplay --raw).
  bool writeRaw(const std::string& path) const;

 private:
  int rate_, channels_;
  double phase_ = 0;
  std::vector<std::int16_t> samples_;
};

// A time code: a tone whose pitch steps up by 40 Hz every tenth of a second
// from 400 Hz to 3560 Hz and starts again (every 8 s), so the pitch heard
// anywhere in a recording tells which moment of the playback it is, even at
// 8 kHz.
struct TimeCode {
  static constexpr double kStep = 0.1, kTurn = 8.0;
  static TestSignal signal(double seconds);  // 48 kHz stereo
  // The playback moment heard in each tenth of a second of a decoded channel
  // (counted on across turns, so jumps must stay under half a turn); -1
  // where none is clear.
  static std::vector<double> read(const std::vector<std::int16_t>& mono, long rate);
};

// What a recording of a time code holds: the first and the last moment
// heard, and the most sound missing between two neighbouring readings (about
// 0 for an unbroken recording; a tenth either way is the reading's own).
struct CodeHeard {
  double first = -1, last = -1, lost = 0;
};
CodeHeard codeHeard(const std::vector<double>& moments);

// Interleaved sines, one frequency per channel, amplitude in full scale.
std::vector<std::int16_t> makeTone(long rate, int channels, std::size_t sampleFrames,
                                   const std::vector<double>& hzPerChannel,
                                   double amplitude = 0.5);

// The strongest frequency between minHz and maxHz (0: rate / 2) in up to
// 8192 samples from the middle of a mono signal.
double dominantFrequency(const std::vector<std::int16_t>& mono, long rate, double minHz = 20.0,
                         double maxHz = 0.0);

// Where |sample| reaches the level, merged across gaps shorter than
// minGapSeconds; in seconds from the start.
struct Stretch {
  double begin = 0, end = 0;
  double length() const { return end - begin; }
};
std::vector<Stretch> loudStretches(const std::vector<std::int16_t>& mono, long rate, int level,
                                   double minGapSeconds);

// The samples between two times (seconds).
std::vector<std::int16_t> slice(const std::vector<std::int16_t>& mono, long rate, double from,
                                double to);

}  // namespace vorta::test
