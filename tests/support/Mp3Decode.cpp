#include "Mp3Decode.h"
#include <mpg123.h>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>
#include <utility>

namespace vorta::test {
namespace {
constexpr double kCodeBaseHz = 400, kCodeStepHz = 40;
constexpr int kCodeSteps = 80;  // kTurn / kStep

DecodedMp3 fail(std::string why) { return {.error = std::move(why)}; }

// The strongest frequency in minHz..maxHz, from up to 8192 samples in the middle.
double dominantFrequency(const Samples& mono, long rate, double minHz, double maxHz) {
  const std::size_t n = std::min<std::size_t>(mono.size(), 8192);
  const std::int16_t* x = mono.data() + (mono.size() - n) / 2;
  // Goertzel in steps of two bins (the main lobe's width), refined around the best.
  const double step = std::max(2.0, 2.0 * double(rate) / double(std::max<std::size_t>(n, 1)));
  double best = minHz, bestPower = -1.0;
  const auto scan = [&](double from, double to, double by) {
    for (double hz = from; hz <= to; hz += by) {
      const double coeff = 2.0 * std::cos(2.0 * std::numbers::pi * hz / double(rate));
      double s1 = 0, s2 = 0;
      for (std::size_t i = 0; i < n; ++i) s2 = std::exchange(s1, x[i] + coeff * s1 - s2);
      if (const double p = s1 * s1 + s2 * s2 - coeff * s1 * s2; p > bestPower)
        bestPower = p, best = hz;
    }
  };
  scan(minHz, maxHz, step);
  scan(best - step, best + step, step / 20.0);
  return best;
}
}  // namespace

TestSignal& TestSignal::tone(double hz, double seconds, double amplitude) {
  for (long i = 0; i < std::lround(seconds * rate_); ++i) {
    samples_.insert(samples_.end(), std::size_t(channels_),
                    std::int16_t(std::lround(amplitude * 32767.0 * std::sin(phase_))));
    phase_ = std::fmod(phase_ + 2 * std::numbers::pi * hz / rate_, 2 * std::numbers::pi);
  }
  return *this;
}
TestSignal& TestSignal::silence(double seconds) {
  samples_.resize(samples_.size() + std::size_t(std::lround(seconds * rate_) * channels_), 0);
  return *this;
}
TestSignal& TestSignal::fullScale(double seconds) {
  for (long i = 0; i < std::lround(seconds * rate_); ++i)
    samples_.insert(samples_.end(), std::size_t(channels_), i * 2000 / rate_ % 2 ? -32767 : 32767);
  return *this;
}
bool TestSignal::writeRaw(const std::string& path) const {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  return bool(
      file.write(reinterpret_cast<const char*>(samples_.data()), long(samples_.size() * 2)));
}
TestSignal& TestSignal::timeCode(double from, double seconds) {
  for (int k = int(std::lround(from / TimeCode::kStep)); k * TimeCode::kStep < from + seconds; ++k)
    tone(kCodeBaseHz + kCodeStepHz * (k % kCodeSteps), TimeCode::kStep);
  return *this;
}
std::vector<double> TimeCode::read(const Samples& mono, long rate) {
  std::vector<double> moments;
  const auto window = std::size_t(double(rate) * kStep);
  double turns = 0, last = -1, previous = -1;
  for (std::size_t at = 0; at + window <= mono.size(); at += window) {
    const Samples part(mono.begin() + long(at), mono.begin() + long(at + window));
    const double step = (dominantFrequency(part, rate, kCodeBaseHz - kCodeStepHz,
                                           kCodeBaseHz + kCodeStepHz * kCodeSteps) -
                         kCodeBaseHz) /
                        kCodeStepHz;
    double moment = std::round(step) * kStep + turns * kTurn;
    if (std::fabs(step - std::round(step)) > 0.3 || step < -0.5 || step > kCodeSteps - 0.5)
      moment = -1;
    else if (last >= 0 && moment < last - kTurn / 2)
      turns += 1, moment += kTurn;
    moments.push_back(moment);
    // Only a reading its predecessor agrees with can mark a turn: one misread
    // tenth before the code starts must not shift the whole code by a turn.
    if (moment >= 0 && std::fabs(moment - previous - kStep) < 0.15) last = moment;
    previous = moment;
  }
  return moments;
}
CodeHeard codeHeard(const std::vector<double>& moments) {
  // A reading counts when a neighbour agrees with it: one misread tenth of
  // a poor encoding is not a jump in the playback.
  const auto agrees = [&](std::size_t i, std::size_t j) {
    return j < moments.size() && moments[j] >= 0 &&
           std::fabs(moments[j] - moments[i] - (double(j) - double(i)) * TimeCode::kStep) < 0.15;
  };
  CodeHeard heard;
  for (std::size_t i = 0, previous = 0; i < moments.size(); ++i) {
    if (moments[i] < 0 || !(agrees(i, i - 1) || agrees(i, i + 1))) continue;
    if (heard.first < 0) heard.first = moments[i], heard.firstAt = double(i) * TimeCode::kStep;
    else heard.lost = std::max(heard.lost, moments[i] - heard.last - double(i - previous) * TimeCode::kStep);
    heard.last = moments[i];
    heard.lastAt = double(i) * TimeCode::kStep;
    previous = i;
  }
  return heard;
}
Samples DecodedMp3::channel(int index) const {
  Samples out;
  for (std::size_t i = std::size_t(index); i < samples.size(); i += std::size_t(channels))
    out.push_back(samples[i]);
  return out;
}
DecodedMp3 decodeMp3Bytes(const std::vector<std::uint8_t>& bytes) {
  std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)> h(mpg123_new(nullptr, nullptr),
                                                             mpg123_delete);
  mpg123_param(h.get(), MPG123_FLAGS, MPG123_QUIET, 0.0);
  mpg123_param(h.get(), MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
  if (mpg123_open_feed(h.get()) != MPG123_OK ||
      mpg123_feed(h.get(), bytes.data(), bytes.size()) != MPG123_OK)
    return fail(mpg123_strerror(h.get()));
  DecodedMp3 d;
  for (int r = MPG123_OK; r != MPG123_DONE && r != MPG123_NEED_MORE;) {
    off_t num = 0;
    unsigned char* audio = nullptr;
    std::size_t size = 0;
    r = mpg123_decode_frame(h.get(), &num, &audio, &size);
    long rate = 0;
    int channels = 0, encoding = 0;
    if (r == MPG123_NEW_FORMAT &&
        mpg123_getformat(h.get(), &rate, &channels, &encoding) == MPG123_OK &&
        (d.rate == 0 || (rate == d.rate && channels == d.channels)) &&
        encoding == MPG123_ENC_SIGNED_16) {
      d.rate = rate, d.channels = channels;
    } else if (r == MPG123_NEW_FORMAT) {
      return fail("format changed or not 16-bit");
    } else if (r == MPG123_OK) {
      mpg123_frameinfo2 i{};
      mpg123_info2(h.get(), &i);
      d.frames.push_back({i.bitrate, i.rate, i.mode, i.version, (i.flags & MPG123_ORIGINAL) != 0,
                          (i.flags & MPG123_CRC) != 0, i.emphasis});
      d.samples.insert(d.samples.end(), reinterpret_cast<std::int16_t*>(audio),
                       reinterpret_cast<std::int16_t*>(audio + size));
    } else if (r != MPG123_DONE && r != MPG123_NEED_MORE) {
      return fail(std::string("decode error: ") + mpg123_strerror(h.get()));
    }
  }
  if (d.frames.empty()) return fail("no frames");
  d.ok = true;
  return d;
}
std::string framesNotWhole(const std::vector<std::uint8_t>& bytes, std::size_t& sampleFrames) {
  static const int kBitrates[2][15] = {
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
  static const int kRates[3][3] = {
      {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
  std::size_t at = 0;
  for (sampleFrames = 0; at + 4 <= bytes.size();) {
    const std::uint32_t h = std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16 |
                            std::uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
    const unsigned version = h >> 19 & 3, bitrate = h >> 12 & 15, rate = h >> 10 & 3;  // 3: MPEG-1
    if (h >> 21 != 0x7ff || version == 1 || (h >> 17 & 3) != 1 || bitrate == 0 || bitrate == 15 ||
        rate == 3)
      return "no Layer III frame header at byte " + std::to_string(at) + " of " +
             std::to_string(bytes.size());
    const bool mpeg1 = version == 3;
    at += std::size_t((mpeg1 ? 144000 : 72000) * kBitrates[mpeg1 ? 0 : 1][bitrate] /
                      kRates[mpeg1 ? 0 : version == 2 ? 1 : 2][rate]) + (h >> 9 & 1);
    sampleFrames += mpeg1 ? 1152 : 576;
  }
  if (at == bytes.size() && at > 0) return "";
  return bytes.empty() ? "no frames" : "last frame cut short before byte " + std::to_string(at);
}
std::vector<std::uint8_t> readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
Samples makeTone(long rate, int channels, std::size_t sampleFrames,
                 const std::vector<double>& hzPerChannel, double amplitude) {
  Samples out;
  for (std::size_t i = 0; i < sampleFrames; ++i)
    for (std::size_t c = 0; c < std::size_t(channels); ++c)
      out.push_back(std::int16_t(std::lround(
          amplitude * 32767.0 *
          std::sin(2 * std::numbers::pi * hzPerChannel[std::min(c, hzPerChannel.size() - 1)] *
                   double(i) / double(rate)))));
  return out;
}

}  // namespace vorta::test
