// The input's level, block by block: the peak of each channel, the samples
// at full scale, and the watch that tells a long stretch below the silence
// level (dead air) from sound.
//
// Pure values and functions: the capture callback uses them on the input's
// thread; they hold no locks and share nothing.
#pragma once

#include <cstdint>

namespace vorta {

struct BlockLevel {
  std::int32_t peak[2] = {0, 0};  // the largest |sample| of each channel, 0..32768
  std::uint32_t clipped = 0;      // samples with |sample| >= 32767
};

// Interleaved 16-bit little-endian samples, one or two channels. A trailing
// part of a frame is ignored.
BlockLevel measureLevel(const std::uint8_t* data, std::uint32_t bytes, int channels);

// Counts the frames the input stays below the silence level. Every block is
// judged whole by its loudest sample.
class DeadAirWatch {
 public:
  enum class Change { None, Began, Ended };

  explicit DeadAirWatch(std::int64_t limitFrames) : limitFrames_(limitFrames) {}

  // Began once the quiet run reaches the limit, Ended at the first loud
  // block after that; lastGapFrames() then tells how long the quiet run was.
  Change step(bool quiet, std::int64_t frames);
  std::int64_t quietFrames() const { return quietFrames_; }
  std::int64_t lastGapFrames() const { return lastGapFrames_; }
  bool dead() const { return dead_; }

 private:
  std::int64_t limitFrames_;
  std::int64_t quietFrames_ = 0;
  std::int64_t lastGapFrames_ = 0;
  bool dead_ = false;
};

}  // namespace vorta
