// MPEG audio Layer III frame arithmetic, pure: frame lengths from headers,
// the one walk along a stream's frame headers as its bytes go by, and the
// frame ends of a file read by it.
//
// Used by the encoder thread only (each object belongs to one writer).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vorta {

// The length in bytes of the Layer III frame whose 4 header bytes are given
// (MPEG-1, MPEG-2 or MPEG-2.5, padding included), 0 when they are no such
// header.
std::uint32_t mpegFrameLength(const std::uint8_t* header);

// Reads the frame headers of a stream as its bytes go by, in pieces of any
// size (a header may be split between two pieces), and gives each frame's
// start and length (offsets in the stream) to the caller's consumer. A
// stream that does not start with a frame header, or loses the chain of
// headers, is not the engine's: from there on nothing is read (lost()).
class MpegFrameWalk {
 public:
  // Bytes that follow everything added so far; onFrame(start, length) for
  // every frame whose header they complete, in stream order.
  template <typename OnFrame>
  void add(const std::uint8_t* bytes, std::size_t length, OnFrame&& onFrame) {
    const std::uint64_t from = added_;
    added_ += length;
    while (!lost_ && nextFrame_ + headerHave_ < added_) {
      header_[headerHave_] = bytes[nextFrame_ + headerHave_ - from];
      if (++headerHave_ < header_.size()) continue;
      headerHave_ = 0;
      const std::uint32_t frame = mpegFrameLength(header_.data());
      if (frame == 0) {
        lost_ = true;
        return;
      }
      onFrame(nextFrame_, frame);
      nextFrame_ += frame;
    }
  }
  bool lost() const { return lost_; }
  // Offsets from here on count from `base` where they counted from `end`
  // (at or before every offset still to come).
  void renumber(std::uint64_t end, std::uint64_t base) {
    added_ = added_ - end + base;
    nextFrame_ = nextFrame_ - end + base;
  }

 private:
  std::uint64_t added_ = 0;      // offset just past the bytes added
  std::uint64_t nextFrame_ = 0;  // where the next frame header starts
  std::array<std::uint8_t, 4> header_{};
  std::uint32_t headerHave_ = 0;
  bool lost_ = false;
};

// Where the frames of one file end, as offsets in that file, read from the
// frame headers as the engine's bytes go by. The engine's outputs do not end
// with its frames, so the ends must be read from the stream itself.
//
// Ends beyond what the file holds wait in a fixed ring. Capacity: a waiting
// end belongs to a frame whose header is not yet in the file (at most a
// block of 16384 bytes plus one engine output of about 10 KB), and the
// smallest frame is 24 bytes (8 kbit/s at 24 kHz): fewer than 1200 ends wait
// at once. Should it ever overfill, the newest end is moved on instead of
// adding one: the ends left are still real frame ends, only fewer.
//
// Once the stream is lost (see MpegFrameWalk) no more ends are known.
class FrameEnds {
 public:
  // Bytes that follow everything added so far.
  void add(const std::uint8_t* bytes, std::uint32_t length);
  // The file now holds its first `held` bytes.
  void reached(std::uint64_t held);
  // The largest frame end the file holds: its length in whole frames.
  std::uint64_t whole() const { return whole_; }
  // The largest known frame end at or before `limit`.
  std::uint64_t lastEndWithin(std::uint64_t limit) const;
  bool lost() const { return walk_.lost(); }
  // The file ended at `end` (a frame end) and the bytes after it continue in
  // a file whose first `base` bytes are whole frames: offsets move along.
  void moveToNextFile(std::uint64_t end, std::uint64_t base);

 private:
  void push(std::uint64_t end);

  static constexpr std::uint32_t kCapacity = 2048;
  std::array<std::uint64_t, kCapacity> ends_{};
  std::uint32_t first_ = 0;
  std::uint32_t count_ = 0;
  std::uint64_t whole_ = 0;
  MpegFrameWalk walk_;
};

}  // namespace vorta
