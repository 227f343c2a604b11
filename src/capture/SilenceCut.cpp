#include "capture/SilenceCut.h"

namespace vorta {
namespace {

// One signed 16-bit little-endian value; the bytes need not be aligned.
int valueAt(const std::uint8_t* data, std::uint32_t index) {
  const auto low = static_cast<unsigned>(data[2 * index]);
  const auto high = static_cast<unsigned>(data[2 * index + 1]);
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
}

}  // namespace

// A position is loud when all ten values from it reach the threshold. The
// test stops at the first quiet value, so silence costs one comparison per
// block. -32768 counts as 32768: the absolute value is taken in 32 bits.
bool SilenceCut::loudAt(const std::uint8_t* data, std::uint32_t position) const {
  for (std::uint32_t i = 0; i < kLoudRun; ++i) {
    int v = valueAt(data, position + i);
    if (v < 0) v = -v;
    if (v < threshold_) return false;
  }
  return true;
}

std::uint32_t SilenceCut::keep(const std::uint8_t* data, std::uint32_t length) {
  const std::uint32_t values = length / 2;
  if (values < kShortestCut || bytesPerSecond_ <= 0) return length;
  const std::uint32_t last = values - kBlockStep;  // tests start below this

  // The forward positions alone decide whether the block holds sound.
  bool sound = false;
  for (std::uint32_t p = 0; p < last && !sound; p += kBlockStep) sound = loudAt(data, p);
  if (!sound) return keepSilent(length);

  // Sound: keep it whole and measure the silence after its last loud
  // position, from the end backwards. Q = -1 (none found) counts the whole
  // block.
  std::int64_t loudQ = -1;
  for (std::int64_t q = last; q >= static_cast<std::int64_t>(kBlockStep); q -= kBlockStep) {
    if (loudAt(data, static_cast<std::uint32_t>(q))) {
      loudQ = q;
      break;
    }
  }
  const double quietValues = static_cast<double>(static_cast<std::int64_t>(values) - 1 - loudQ);
  trailingSilenceUs_ = static_cast<std::int32_t>(quietValues * 2000000.0 / bytesPerSecond_);
  return length;
}

// A silent block: let silence through until kSilenceCapUs have been kept
// after the last sound, then drop it.
std::uint32_t SilenceCut::keepSilent(std::uint32_t length) {
  if (trailingSilenceUs_ >= kSilenceCapUs) return 0;
  const auto duration =
      static_cast<std::int32_t>(static_cast<double>(length) * 1000000.0 / bytesPerSecond_);
  const std::int64_t total = static_cast<std::int64_t>(trailingSilenceUs_) + duration;
  if (total < kSilenceCapUs) {
    trailingSilenceUs_ = static_cast<std::int32_t>(total);
    return length;
  }
  // Only the front that fills the remaining time, rounded down to whole
  // frames: the ring is a plain byte stream and the encoder takes it as
  // frames, so a half frame here would swap channels (or bytes) for the rest
  // of the recording.
  const double remainingUs = static_cast<double>(kSilenceCapUs - trailingSilenceUs_);
  auto bytes = static_cast<std::uint32_t>(remainingUs * bytesPerSecond_ * 0.000001);
  if (bytes > length) bytes = length;
  if (bytesPerFrame_ > 0) bytes -= bytes % static_cast<std::uint32_t>(bytesPerFrame_);
  trailingSilenceUs_ = kSilenceCapUs;
  return bytes;
}

}  // namespace vorta
