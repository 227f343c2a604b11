// MPEG audio Layer III frame headers as a reader of finished MP3 files sees
// them: what a header says, where the next frame begins, and a walk over the
// frames of a piece of a file, so that a file is cut only at frame
// boundaries.
//
// Contract: pure functions and a value-type walker over bytes the caller
// owns; no file is touched here. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vorta {

struct MpegHeader {
  int version = 1;            // 1 MPEG-1, 2 MPEG-2, 25 MPEG-2.5
  int rate = 44100;           // samples per second
  int kbps = 128;
  int channels = 2;
  int frameSamples = 1152;    // per channel: 1152 MPEG-1, 576 MPEG-2/2.5
  std::uint32_t length = 0;   // bytes, padding included
};

// The 4 header bytes at `bytes` (at least 4 must be readable); none when
// they are no Layer III header (free format included).
std::optional<MpegHeader> parseMpegHeader(const std::uint8_t* bytes);

// The first offset at or after `from` where a frame begins: a header whose
// frame is followed by another header of the same rate and version, or
// that ends exactly at the end of `bytes`. None when there is no such place.
std::optional<std::size_t> nextFrameStart(std::span<const std::uint8_t> bytes, std::size_t from);

// Walks the frames of `bytes` from a frame start, header to header; stops at
// the first place that is not a whole frame.
class FrameWalker {
 public:
  FrameWalker(std::span<const std::uint8_t> bytes, std::size_t start)
      : bytes_(bytes), at_(start) {}
  // The frame at the current place, if a whole one is there.
  std::optional<MpegHeader> frame() const;
  // Moves past the current frame; false when there is no whole frame here.
  bool next();
  std::size_t offset() const { return at_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_;
};

}  // namespace vorta
