// The level part of the time maps: the sound cut into windows of 10 s, each
// with its short-term loudness at its end and the peak of each channel over
// it.
//
// Used by the encoder thread only; it owns its loudness meter.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "archive/TimeMapLines.h"
#include "platform/Loudness.h"

namespace vorta {

class LevelWindow {
 public:
  static constexpr int kSeconds = 10;

  LevelWindow(int sampleRate, int channels, std::unique_ptr<LoudnessMeter> meter);

  // Takes frames from `samples` (interleaved) up to the end of the window
  // at most; returns how many it took.
  std::uint32_t add(const std::int16_t* samples, std::uint32_t frames);
  // The level of the window that the last add() completed, once; its place
  // is left for the caller to fill in.
  std::optional<LevelLine> take();

 private:
  const std::uint32_t windowFrames_;
  const int channels_;
  std::unique_ptr<LoudnessMeter> meter_;
  std::uint32_t have_ = 0;
  std::array<std::int32_t, 2> peak_{};
  std::optional<LevelLine> done_;
};

}  // namespace vorta
