// The silence cut: how much of each block of sound to keep, so that at most
// two seconds of silence follow the last sound and the rest of a longer
// silence is left out of the recording.
//
// Contract: pure and single-threaded; the capture callback owns one and uses
// it on the input's thread.
#pragma once

#include <cstdint>

namespace vorta {

class SilenceCut {
 public:
  static constexpr std::int32_t kSilenceCapUs = 2000000;  // most silence kept
  static constexpr std::uint32_t kBlockStep = 44;         // values between tests
  static constexpr std::uint32_t kLoudRun = 10;           // loud values per test
  static constexpr std::uint32_t kShortestCut = 88;       // shorter: keep whole

  // threshold: absolute 16-bit level; bytesPerSecond and bytesPerFrame of the
  // capture format.
  SilenceCut(int threshold, std::int32_t bytesPerSecond, int bytesPerFrame)
      : threshold_(threshold), bytesPerSecond_(bytesPerSecond), bytesPerFrame_(bytesPerFrame) {}

  // Bytes of the block to keep, from its start; always a whole number of
  // frames when the block is cut short.
  std::uint32_t keep(const std::uint8_t* data, std::uint32_t length);

  // Silence at the end of what has been kept so far, in microseconds.
  std::int32_t trailingSilenceUs() const { return trailingSilenceUs_; }

 private:
  bool loudAt(const std::uint8_t* data, std::uint32_t position) const;
  std::uint32_t keepSilent(std::uint32_t length);

  const int threshold_;
  const std::int32_t bytesPerSecond_;
  const int bytesPerFrame_;
  // Never above kSilenceCapUs; set back only by a block with sound.
  std::int32_t trailingSilenceUs_ = 0;
};

}  // namespace vorta
