// MPEG audio Layer III frame arithmetic, pure: frame lengths from headers and
// the frame ends of a stream read as its bytes go by.
//
// Used by the encoder thread only (each object belongs to one writer).
#pragma once

#include <array>
#include <cstdint>

namespace vorta {

// The length in bytes of the Layer III frame whose 4 header bytes are given
// (MPEG-1, MPEG-2 or MPEG-2.5, padding included), 0 when they are no such
// header.
std::uint32_t mpegFrameLength(const std::uint8_t* header);

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
// A stream that does not start with a frame header, or loses the chain of
// headers, is not the engine's: from there on no ends are known (lost()).
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
  bool lost() const { return lost_; }
  // The file ended at `end` (a frame end) and the bytes after it continue in
  // a file whose first `base` bytes are whole frames: offsets move along.
  void moveToNextFile(std::uint64_t end, std::uint64_t base);

 private:
  void push(std::uint64_t end);

  static constexpr std::uint32_t kCapacity = 2048;
  std::array<std::uint64_t, kCapacity> ends_{};
  std::uint32_t first_ = 0;
  std::uint32_t count_ = 0;
  std::uint64_t added_ = 0;  // offset just past the bytes added
  std::uint64_t whole_ = 0;
  std::uint64_t nextFrame_ = 0;  // where the next frame header starts
  std::array<std::uint8_t, 4> header_{};
  std::uint32_t headerHave_ = 0;
  bool lost_ = false;
};

}  // namespace vorta
