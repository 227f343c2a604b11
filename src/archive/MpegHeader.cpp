#include "archive/MpegHeader.h"

namespace vorta {

std::optional<MpegHeader> parseMpegHeader(const std::uint8_t* h) {
  static constexpr int kKbitMpeg1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                         112, 128, 160, 192, 224, 256, 320, 0};
  static constexpr int kKbitMpeg2[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                         64, 80, 96, 112, 128, 144, 160, 0};
  static constexpr int kRateMpeg1[4] = {44100, 48000, 32000, 0};
  // Sync (11 bits), then Layer III (layer bits 01).
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1) return std::nullopt;
  const int bits = (h[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
  if (bits == 1) return std::nullopt;
  MpegHeader header;
  const bool mpeg1 = bits == 3;
  header.version = mpeg1 ? 1 : bits == 2 ? 2 : 25;
  header.kbps = (mpeg1 ? kKbitMpeg1 : kKbitMpeg2)[h[2] >> 4];
  // MPEG-2 halves the MPEG-1 rates, MPEG-2.5 quarters them.
  header.rate = kRateMpeg1[(h[2] >> 2) & 3] >> (mpeg1 ? 0 : bits == 2 ? 1 : 2);
  if (header.kbps == 0 || header.rate == 0) return std::nullopt;
  header.channels = (h[3] >> 6) == 3 ? 1 : 2;
  header.frameSamples = mpeg1 ? 1152 : 576;
  header.length = static_cast<std::uint32_t>((mpeg1 ? 144000 : 72000) * header.kbps / header.rate +
                                             ((h[2] >> 1) & 1));
  return header;
}

std::optional<std::size_t> nextFrameStart(std::span<const std::uint8_t> bytes, std::size_t from) {
  for (std::size_t at = from; at + 4 <= bytes.size(); ++at) {
    const std::optional<MpegHeader> h = parseMpegHeader(bytes.data() + at);
    if (!h) continue;
    const std::size_t next = at + h->length;
    if (next == bytes.size()) return at;
    if (next + 4 > bytes.size()) continue;
    const std::optional<MpegHeader> following = parseMpegHeader(bytes.data() + next);
    if (following && following->rate == h->rate && following->version == h->version) return at;
  }
  return std::nullopt;
}

std::optional<MpegHeader> FrameWalker::frame() const {
  if (at_ + 4 > bytes_.size()) return std::nullopt;
  const std::optional<MpegHeader> h = parseMpegHeader(bytes_.data() + at_);
  if (!h || at_ + h->length > bytes_.size()) return std::nullopt;
  return h;
}

bool FrameWalker::next() {
  const std::optional<MpegHeader> h = frame();
  if (!h) return false;
  at_ += h->length;
  return true;
}

}  // namespace vorta
