#include "encode/MpegFrame.h"

namespace vorta {

std::uint32_t mpegFrameLength(const std::uint8_t* h) {
  static constexpr std::uint16_t kKbitMpeg1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                                   112, 128, 160, 192, 224, 256, 320, 0};
  static constexpr std::uint16_t kKbitMpeg2[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                                   64, 80, 96, 112, 128, 144, 160, 0};
  static constexpr std::uint32_t kRateMpeg1[4] = {44100, 48000, 32000, 0};
  // Sync (11 bits), then Layer III (layer bits 01).
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1) return 0;
  const int version = (h[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
  if (version == 1) return 0;
  const bool mpeg1 = version == 3;
  const std::uint32_t kbit = (mpeg1 ? kKbitMpeg1 : kKbitMpeg2)[h[2] >> 4];
  // MPEG-2 halves the MPEG-1 rates, MPEG-2.5 quarters them.
  const std::uint32_t rate = kRateMpeg1[(h[2] >> 2) & 3] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  if (kbit == 0 || rate == 0) return 0;
  // 1152 samples per MPEG-1 frame, 576 per MPEG-2/2.5 frame; 8 bits a byte.
  return (mpeg1 ? 144000 : 72000) * kbit / rate + ((h[2] >> 1) & 1);
}

void FrameEnds::add(const std::uint8_t* bytes, std::uint32_t length) {
  walk_.add(bytes, length, [this](std::uint64_t start, std::uint32_t frame) { push(start + frame); });
}

void FrameEnds::reached(std::uint64_t held) {
  while (count_ > 0 && ends_[first_] <= held) {
    whole_ = ends_[first_];
    first_ = (first_ + 1) % kCapacity;
    --count_;
  }
}

std::uint64_t FrameEnds::lastEndWithin(std::uint64_t limit) const {
  std::uint64_t last = whole_;
  for (std::uint32_t i = 0; i < count_; ++i) {
    const std::uint64_t end = ends_[(first_ + i) % kCapacity];
    if (end > limit) break;
    last = end;
  }
  return last;
}

void FrameEnds::moveToNextFile(std::uint64_t end, std::uint64_t base) {
  // Every waiting end lies beyond `end`: the unsigned sums cannot wrap.
  walk_.renumber(end, base);
  for (std::uint32_t i = 0; i < count_; ++i) {
    std::uint64_t& e = ends_[(first_ + i) % kCapacity];
    e = e - end + base;
  }
  whole_ = base;
}

void FrameEnds::push(std::uint64_t end) {
  if (count_ == kCapacity) {
    ends_[(first_ + count_ - 1) % kCapacity] = end;
    return;
  }
  ends_[(first_ + count_) % kCapacity] = end;
  ++count_;
}

}  // namespace vorta
