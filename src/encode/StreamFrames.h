// Where the recent frames of the engine's MP3 stream begin, read by the
// frame walk as the bytes go by: frame index <-> offset in the stream.
//
// Used by the encoder thread only (the time map writer owns one). Only the
// last kRemembered frames are kept: the time map asks for frames that hold
// sound the engine has just been given, never for older ones.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "encode/MpegFrame.h"

namespace vorta {

class StreamFrames {
 public:
  static constexpr std::uint32_t kRemembered = 1024;

  // Bytes that follow everything added so far.
  void add(std::span<const std::uint8_t> bytes);
  // Frames whose header has been read.
  std::uint64_t count() const { return count_; }
  // Where frame `index` begins, while it is remembered.
  std::optional<std::uint64_t> offsetOf(std::uint64_t index) const;
  // The index of the frame that begins at `offset`, a frame boundary: the
  // next frame to be read when no remembered frame begins there.
  std::uint64_t indexAt(std::uint64_t offset) const;
  // False once the stream has left the chain of headers (no engine's).
  bool ok() const { return !walk_.lost(); }

 private:
  std::array<std::uint64_t, kRemembered> offsets_{};
  std::uint64_t count_ = 0;
  MpegFrameWalk walk_;
};

}  // namespace vorta
