#include "encode/LevelWindow.h"

#include <algorithm>
#include <cstdlib>

namespace vorta {

LevelWindow::LevelWindow(int sampleRate, int channels, std::unique_ptr<LoudnessMeter> meter)
    : windowFrames_(static_cast<std::uint32_t>(sampleRate > 0 ? sampleRate : 1) * kSeconds),
      channels_(channels == 1 ? 1 : 2),
      meter_(std::move(meter)) {}

std::uint32_t LevelWindow::add(const std::int16_t* samples, std::uint32_t frames) {
  const std::uint32_t take = std::min(frames, windowFrames_ - have_);
  for (std::uint32_t i = 0; i < take; ++i) {
    for (int c = 0; c < channels_; ++c) {
      // 32 bits: -32768 counts as 32768.
      const std::int32_t v = std::abs(static_cast<std::int32_t>(samples[i * channels_ + c]));
      peak_[static_cast<std::size_t>(c)] = std::max(peak_[static_cast<std::size_t>(c)], v);
    }
  }
  meter_->add(samples, take);
  have_ += take;
  if (have_ < windowFrames_) return take;
  LevelLine line;
  line.lufs = meter_->shortTerm();
  line.channels = channels_;
  for (int c = 0; c < channels_; ++c)
    line.peakDb[static_cast<std::size_t>(c)] = dbfsOf(peak_[static_cast<std::size_t>(c)]);
  done_ = line;
  have_ = 0;
  peak_ = {};
  return take;
}

std::optional<LevelLine> LevelWindow::take() {
  std::optional<LevelLine> line;
  line.swap(done_);
  return line;
}

}  // namespace vorta
