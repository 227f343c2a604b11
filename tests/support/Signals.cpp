#include "Signals.h"

#include <cmath>
#include <fstream>
#include <numbers>

namespace vorta::test {

namespace {

void putLe(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

}  // namespace

TestSignal::TestSignal(int rate, int channels) : rate_(rate), channels_(channels) {}

std::size_t TestSignal::framesFor(double seconds) const {
  return seconds <= 0 ? 0 : static_cast<std::size_t>(std::llround(seconds * rate_));
}

TestSignal& TestSignal::tone(double frequencyHz, double seconds, double amplitude) {
  const std::size_t n = framesFor(seconds);
  const double step = 2 * std::numbers::pi * frequencyHz / rate_;
  samples_.reserve(samples_.size() + n * static_cast<std::size_t>(channels_));
  for (std::size_t i = 0; i < n; ++i) {
    double value = std::lround(amplitude * 32767.0 * std::sin(phase_));
    value = std::fmax(-32768.0, std::fmin(32767.0, value));
    for (int c = 0; c < channels_; ++c) samples_.push_back(static_cast<std::int16_t>(value));
    phase_ = std::fmod(phase_ + step, 2 * std::numbers::pi);
  }
  return *this;
}

TestSignal& TestSignal::silence(double seconds) {
  samples_.resize(samples_.size() + framesFor(seconds) * static_cast<std::size_t>(channels_), 0);
  return *this;
}

TestSignal& TestSignal::append(const TestSignal& other) {
  if (other.rate_ == rate_ && other.channels_ == channels_) {
    samples_.insert(samples_.end(), other.samples_.begin(), other.samples_.end());
  }
  return *this;
}

std::string TestSignal::wavBytes() const {
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(samples_.size() * 2);
  const std::uint32_t blockAlign = static_cast<std::uint32_t>(channels_) * 2;
  std::string out;
  out.reserve(44 + dataBytes);
  out += "RIFF";
  putLe(out, 36 + dataBytes, 4);
  out += "WAVE";
  out += "fmt ";
  putLe(out, 16, 4);                                           // chunk size
  putLe(out, 1, 2);                                            // PCM
  putLe(out, static_cast<std::uint32_t>(channels_), 2);
  putLe(out, static_cast<std::uint32_t>(rate_), 4);
  putLe(out, static_cast<std::uint32_t>(rate_) * blockAlign, 4);  // byte rate
  putLe(out, blockAlign, 2);
  putLe(out, 16, 2);                                           // bits per sample
  out += "data";
  putLe(out, dataBytes, 4);
  for (std::int16_t s : samples_) putLe(out, static_cast<std::uint16_t>(s), 2);
  return out;
}

bool TestSignal::writeWav(const std::string& path) const {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  const std::string bytes = wavBytes();
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return static_cast<bool>(file);
}

}  // namespace vorta::test
