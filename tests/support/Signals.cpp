#include "Signals.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>

namespace vorta::test {
namespace {

constexpr double kCodeBaseHz = 400, kCodeStepHz = 40;
constexpr int kCodeSteps = 80;  // kTurn / kStep

double goertzelPower(const std::int16_t* x, std::size_t n, long rate, double hz) {
  const double coeff = 2.0 * std::cos(2.0 * std::numbers::pi * hz / double(rate));
  double s1 = 0, s2 = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double s0 = x[i] + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

}  // namespace

TestSignal& TestSignal::tone(double hz, double seconds, double amplitude) {
  const double step = 2 * std::numbers::pi * hz / rate_;
  for (long i = 0; i < std::lround(seconds * rate_); ++i) {
    const auto value = std::int16_t(std::lround(amplitude * 32767.0 * std::sin(phase_)));
    samples_.insert(samples_.end(), std::size_t(channels_), value);
    phase_ = std::fmod(phase_ + step, 2 * std::numbers::pi);
  }
  return *this;
}

TestSignal& TestSignal::silence(double seconds) {
  samples_.resize(samples_.size() + std::size_t(std::lround(seconds * rate_) * channels_), 0);
  return *this;
}

bool TestSignal::writeRaw(const std::string& path) const {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(samples_.data()), std::streamsize(samples_.size() * 2));
  return bool(file.flush());
}

TestSignal TimeCode::signal(double seconds) {
  TestSignal s(48000, 2);
  for (int k = 0; k * kStep < seconds; ++k)
    s.tone(kCodeBaseHz + kCodeStepHz * (k % kCodeSteps), TimeCode::kStep);
  return s;
}

std::vector<double> TimeCode::read(const std::vector<std::int16_t>& mono, long rate) {
  std::vector<double> moments;
  const auto window = std::size_t(double(rate) * kStep);
  double turns = 0, last = -1;
  for (std::size_t at = 0; at + window <= mono.size(); at += window) {
    const std::vector<std::int16_t> part(mono.begin() + long(at), mono.begin() + long(at + window));
    const double hz = dominantFrequency(part, rate, kCodeBaseHz - kCodeStepHz,
                                        kCodeBaseHz + kCodeStepHz * kCodeSteps);
    const double step = (hz - kCodeBaseHz) / kCodeStepHz;
    if (std::fabs(step - std::round(step)) > 0.3 || step < -0.5 || step > kCodeSteps - 0.5) {
      moments.push_back(-1);
      continue;
    }
    double moment = std::round(step) * kStep + turns * kTurn;
    if (last >= 0 && moment < last - kTurn / 2) turns += 1, moment += kTurn;
    moments.push_back(last = moment);
  }
  return moments;
}

CodeHeard codeHeard(const std::vector<double>& moments) {
  CodeHeard heard;
  std::size_t previous = 0;
  for (std::size_t i = 0; i < moments.size(); ++i) {
    if (moments[i] < 0) continue;
    if (heard.first < 0) heard.first = moments[i];
    else heard.lost = std::max(heard.lost, moments[i] - heard.last - double(i - previous) * TimeCode::kStep);
    heard.last = moments[i];
    previous = i;
  }
  return heard;
}

std::vector<std::int16_t> makeTone(long rate, int channels, std::size_t sampleFrames,
                                   const std::vector<double>& hzPerChannel, double amplitude) {
  std::vector<std::int16_t> out(sampleFrames * std::size_t(channels));
  for (std::size_t i = 0; i < sampleFrames; ++i)
    for (int c = 0; c < channels; ++c) {
      const double hz = hzPerChannel[std::min<std::size_t>(std::size_t(c), hzPerChannel.size() - 1)];
      out[i * std::size_t(channels) + std::size_t(c)] = std::int16_t(
          std::lround(amplitude * 32767.0 * std::sin(2.0 * std::numbers::pi * hz * double(i) / double(rate))));
    }
  return out;
}

double dominantFrequency(const std::vector<std::int16_t>& mono, long rate, double minHz,
                         double maxHz) {
  if (mono.empty() || rate <= 0) return 0.0;
  if (maxHz <= 0.0) maxHz = double(rate) / 2.0;
  const std::size_t n = std::min<std::size_t>(mono.size(), 8192);
  const std::int16_t* x = mono.data() + (mono.size() - n) / 2;
  // Steps of two bins, the width of the main lobe; then refined around the best.
  const double step = std::max(2.0, 2.0 * double(rate) / double(n));
  double best = minHz, bestPower = -1.0;
  const auto scan = [&](double from, double to, double by) {
    for (double hz = from; hz <= to; hz += by) {
      const double p = goertzelPower(x, n, rate, hz);
      if (p > bestPower) bestPower = p, best = hz;
    }
  };
  scan(minHz, maxHz, step);
  scan(best - step, best + step, step / 20.0);
  return best;
}

std::vector<Stretch> loudStretches(const std::vector<std::int16_t>& mono, long rate, int level,
                                   double minGapSeconds) {
  std::vector<Stretch> result;
  const auto minGap = std::size_t(minGapSeconds * double(rate));
  std::size_t lastLoud = 0;
  for (std::size_t i = 0; i < mono.size(); ++i) {
    if (std::abs(int(mono[i])) < level) continue;
    if (result.empty() || i - lastLoud > minGap) result.push_back({double(i) / double(rate), 0});
    lastLoud = i;
    result.back().end = double(i + 1) / double(rate);
  }
  return result;
}

std::vector<std::int16_t> slice(const std::vector<std::int16_t>& mono, long rate, double from,
                                double to) {
  const auto at = [&](double t) {
    return std::min(mono.size(), std::size_t(std::max(0.0, t * double(rate))));
  };
  if (at(from) >= at(to)) return {};
  return {mono.begin() + long(at(from)), mono.begin() + long(at(to))};
}

}  // namespace vorta::test
