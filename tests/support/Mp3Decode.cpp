#include "Mp3Decode.h"

#include <mpg123.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace vorta::test {
namespace {

struct Handle {
  mpg123_handle* h = nullptr;
  ~Handle() {
    if (!h) return;
    mpg123_close(h);
    mpg123_delete(h);
  }
};

Mp3Frame frameInfo(mpg123_handle* h) {
  mpg123_frameinfo2 info{};
  mpg123_info2(h, &info);
  Mp3Frame f;
  f.bitrate = info.bitrate;
  f.rate = info.rate;
  f.mode = info.mode;
  f.version = info.version;
  f.original = (info.flags & MPG123_ORIGINAL) != 0;
  f.crc = (info.flags & MPG123_CRC) != 0;
  f.emphasis = info.emphasis;
  return f;
}

DecodedMp3 fail(std::string why) {
  DecodedMp3 d;
  d.error = std::move(why);
  return d;
}

double goertzelPower(const std::int16_t* x, std::size_t n, long rate, double hz) {
  const double w = 2.0 * M_PI * hz / double(rate);
  const double coeff = 2.0 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double s0 = x[i] + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

}  // namespace

std::vector<std::int16_t> DecodedMp3::channel(int index) const {
  std::vector<std::int16_t> out;
  if (channels <= 0) return out;
  out.reserve(sampleFrames());
  for (std::size_t i = static_cast<std::size_t>(index); i < samples.size(); i += channels) {
    out.push_back(samples[i]);
  }
  return out;
}

DecodedMp3 decodeMp3File(const std::string& path) {
#if MPG123_API_VERSION < 46
  mpg123_init();
#endif
  Handle handle;
  int err = MPG123_OK;
  handle.h = mpg123_new(nullptr, &err);
  if (!handle.h) return fail("mpg123_new failed");
  mpg123_param(handle.h, MPG123_FLAGS, MPG123_QUIET, 0.0);
  mpg123_param(handle.h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
  mpg123_format_none(handle.h);
  const long* rates = nullptr;
  std::size_t count = 0;
  mpg123_rates(&rates, &count);
  for (std::size_t i = 0; i < count; ++i) {
    mpg123_format(handle.h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  }
  if (mpg123_open(handle.h, path.c_str()) != MPG123_OK) {
    return fail(std::string("cannot open ") + path + ": " + mpg123_strerror(handle.h));
  }
  DecodedMp3 d;
  for (;;) {
    off_t num = 0;
    unsigned char* audio = nullptr;
    std::size_t bytes = 0;
    const int r = mpg123_decode_frame(handle.h, &num, &audio, &bytes);
    if (r == MPG123_DONE) break;
    if (r == MPG123_NEW_FORMAT) {
      long rate = 0;
      int channels = 0, encoding = 0;
      mpg123_getformat(handle.h, &rate, &channels, &encoding);
      if (d.rate && (rate != d.rate || channels != d.channels)) return fail("format changed");
      d.rate = rate;
      d.channels = channels;
      continue;
    }
    if (r != MPG123_OK) return fail(std::string("decode error: ") + mpg123_strerror(handle.h));
    d.frames.push_back(frameInfo(handle.h));
    const auto* s = reinterpret_cast<const std::int16_t*>(audio);
    d.samples.insert(d.samples.end(), s, s + bytes / 2);
  }
  if (d.frames.empty()) return fail("no frames");
  d.ok = true;
  return d;
}

DecodedMp3 decodeMp3Bytes(const std::vector<std::uint8_t>& bytes) {
  char path[] = "/tmp/vorta-decode-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return fail("mkstemp failed");
  const bool written =
      bytes.empty() || ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ::close(fd);
  DecodedMp3 d = written ? decodeMp3File(path) : fail("cannot write temporary file");
  ::unlink(path);
  return d;
}

double dominantFrequency(const std::vector<std::int16_t>& mono, long rate, double minHz,
                         double maxHz) {
  if (mono.empty() || rate <= 0) return 0.0;
  if (maxHz <= 0.0) maxHz = rate / 2.0;
  const std::size_t n = std::min<std::size_t>(mono.size(), 8192);
  const std::int16_t* x = mono.data() + (mono.size() - n) / 2;
  // Steps of two bins: the main lobe of an n-sample window is that wide.
  const double step = std::max(2.0, 2.0 * double(rate) / double(n));
  double best = minHz, bestPower = -1.0;
  for (double hz = minHz; hz <= maxHz; hz += step) {
    const double p = goertzelPower(x, n, rate, hz);
    if (p > bestPower) bestPower = p, best = hz;
  }
  const double from = best - step, to = best + step;
  for (double hz = from; hz <= to; hz += step / 20.0) {
    const double p = goertzelPower(x, n, rate, hz);
    if (p > bestPower) bestPower = p, best = hz;
  }
  return best;
}

std::vector<std::int16_t> makeTone(long rate, int channels, std::size_t sampleFrames,
                                   const std::vector<double>& hzPerChannel, double amplitude) {
  std::vector<std::int16_t> out(sampleFrames * channels);
  for (std::size_t i = 0; i < sampleFrames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const double hz = hzPerChannel[std::min<std::size_t>(c, hzPerChannel.size() - 1)];
      const double v = amplitude * 32767.0 * std::sin(2.0 * M_PI * hz * double(i) / double(rate));
      out[i * channels + c] = static_cast<std::int16_t>(std::lround(v));
    }
  }
  return out;
}

std::vector<std::uint8_t> readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace vorta::test
