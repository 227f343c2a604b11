#include "capture/InputLevel.h"

#include <cstdlib>

namespace vorta {

BlockLevel measureLevel(const std::uint8_t* data, std::uint32_t bytes, int channels) {
  BlockLevel level;
  const std::uint32_t frameBytes = channels == 1 ? 2 : 4;
  const std::uint32_t samples = bytes / frameBytes * (frameBytes / 2);
  for (std::uint32_t i = 0; i < samples; ++i) {
    const auto value = static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    const std::int32_t magnitude = std::abs(static_cast<std::int32_t>(value));
    std::int32_t& peak = level.peak[channels == 1 ? 0 : i % 2];
    if (magnitude > peak) peak = magnitude;
    if (magnitude >= 32767) ++level.clipped;
  }
  return level;
}

DeadAirWatch::Change DeadAirWatch::step(bool quiet, std::int64_t frames) {
  if (quiet) {
    quietFrames_ += frames;
    if (dead_ || quietFrames_ < limitFrames_) return Change::None;
    dead_ = true;
    return Change::Began;
  }
  const bool wasDead = dead_;
  if (wasDead) lastGapFrames_ = quietFrames_;
  quietFrames_ = 0;
  dead_ = false;
  return wasDead ? Change::Ended : Change::None;
}

}  // namespace vorta
