#include "Mp3Decode.h"

#include <mpg123.h>

#include <fstream>
#include <iterator>
#include <memory>

namespace vorta::test {
namespace {

DecodedMp3 fail(std::string why) {
  DecodedMp3 d;
  d.error = std::move(why);
  return d;
}

Mp3Frame frameInfo(mpg123_handle* h) {
  mpg123_frameinfo2 info{};
  mpg123_info2(h, &info);
  return {info.bitrate, info.rate, info.mode, info.version, (info.flags & MPG123_ORIGINAL) != 0,
          (info.flags & MPG123_CRC) != 0, info.emphasis};
}

}  // namespace

std::vector<std::int16_t> DecodedMp3::channel(int index) const {
  std::vector<std::int16_t> out;
  for (std::size_t i = std::size_t(index); channels > 0 && i < samples.size(); i += std::size_t(channels))
    out.push_back(samples[i]);
  return out;
}

DecodedMp3 decodeMp3File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail("cannot open " + path);
  return decodeMp3Bytes(readFileBytes(path));
}

DecodedMp3 decodeMp3Bytes(const std::vector<std::uint8_t>& bytes) {
  std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)> h(mpg123_new(nullptr, nullptr),
                                                              mpg123_delete);
  if (!h) return fail("mpg123_new failed");
  mpg123_param(h.get(), MPG123_FLAGS, MPG123_QUIET, 0.0);
  mpg123_param(h.get(), MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
  mpg123_format_none(h.get());
  const long* rates = nullptr;
  std::size_t count = 0;
  mpg123_rates(&rates, &count);
  for (std::size_t i = 0; i < count; ++i)
    mpg123_format(h.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open_feed(h.get()) != MPG123_OK || mpg123_feed(h.get(), bytes.data(), bytes.size()) != MPG123_OK)
    return fail(std::string("cannot feed: ") + mpg123_strerror(h.get()));
  DecodedMp3 d;
  for (;;) {
    off_t num = 0;
    unsigned char* audio = nullptr;
    std::size_t size = 0;
    const int r = mpg123_decode_frame(h.get(), &num, &audio, &size);
    if (r == MPG123_DONE || r == MPG123_NEED_MORE) break;
    if (r == MPG123_NEW_FORMAT) {
      long rate = 0;
      int channels = 0, encoding = 0;
      mpg123_getformat(h.get(), &rate, &channels, &encoding);
      if (d.rate && (rate != d.rate || channels != d.channels)) return fail("format changed");
      d.rate = rate;
      d.channels = channels;
      continue;
    }
    if (r != MPG123_OK) return fail(std::string("decode error: ") + mpg123_strerror(h.get()));
    d.frames.push_back(frameInfo(h.get()));
    const auto* s = reinterpret_cast<const std::int16_t*>(audio);
    d.samples.insert(d.samples.end(), s, s + size / 2);
  }
  if (d.frames.empty()) return fail("no frames");
  d.ok = true;
  return d;
}

FrameWalk walkFrames(const std::vector<std::uint8_t>& bytes) {
  static const int kBitrates[2][15] = {
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},  // MPEG-1
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};     // MPEG-2, 2.5
  static const int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
  FrameWalk walk;
  std::size_t at = 0;
  for (; at + 4 <= bytes.size(); ++walk.frames) {
    const std::uint32_t h = std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16 |
                            std::uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
    const unsigned versionBits = h >> 19 & 3, bitrateIndex = h >> 12 & 15, rateIndex = h >> 10 & 3;
    if (h >> 21 != 0x7ff || versionBits == 1 || (h >> 17 & 3) != 1 || bitrateIndex == 0 ||
        bitrateIndex == 15 || rateIndex == 3) {
      walk.why = "no Layer III frame header at byte " + std::to_string(at) + " of " +
                 std::to_string(bytes.size());
      return walk;
    }
    const bool mpeg1 = versionBits == 3;  // 2: MPEG-2, 0: MPEG-2.5
    const int rate = kRates[mpeg1 ? 0 : versionBits == 2 ? 1 : 2][rateIndex];
    const std::size_t length =
        std::size_t((mpeg1 ? 144000 : 72000) * kBitrates[mpeg1 ? 0 : 1][bitrateIndex] / rate) +
        (h >> 9 & 1);
    if (walk.frames == 0) walk.samplesPerFrame = mpeg1 ? 1152 : 576;
    if (at + length > bytes.size()) break;
    walk.ends.push_back(at += length);
  }
  walk.whole = at == bytes.size() && walk.frames > 0;
  if (!walk.whole)
    walk.why = walk.frames == 0 && bytes.empty() ? "no frames"
                                                 : "last frame cut short at byte " + std::to_string(at);
  return walk;
}

std::vector<std::uint8_t> readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace vorta::test
