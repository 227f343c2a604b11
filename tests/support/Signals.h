// Test signals written as 16-bit PCM WAV files, to be played into the test
// server's sink: tones, silence and sequences of both.
//
//   TestSignal(48000, 2).tone(1000, 1).silence(6).tone(1000, 1).writeWav(path)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorta::test {

class TestSignal {
 public:
  // A sine at half of full scale: loud, far from clipping after resampling.
  static constexpr double kDefaultAmplitude = 0.5;

  TestSignal(int rate, int channels);

  // Appends a sine of frequencyHz lasting seconds, the same in every channel.
  // The phase runs on from the previous tone, so consecutive tones join
  // without a click.
  TestSignal& tone(double frequencyHz, double seconds, double amplitude = kDefaultAmplitude);
  // Appends digital silence (zeros).
  TestSignal& silence(double seconds);
  // Appends another signal of the same rate and channel count.
  TestSignal& append(const TestSignal& other);

  int rate() const { return rate_; }
  int channels() const { return channels_; }
  std::size_t frames() const { return samples_.size() / static_cast<std::size_t>(channels_); }
  double seconds() const { return static_cast<double>(frames()) / rate_; }
  // Interleaved samples.
  const std::vector<std::int16_t>& samples() const { return samples_; }

  // The RIFF/WAVE bytes: a 44-byte header and the samples, little-endian.
  std::string wavBytes() const;
  // Writes wavBytes() to path; false when the file could not be written.
  bool writeWav(const std::string& path) const;

 private:
  std::size_t framesFor(double seconds) const;

  int rate_;
  int channels_;
  double phase_ = 0;  // radians, of the last tone
  std::vector<std::int16_t> samples_;
};

}  // namespace vorta::test
