// The capture side of the time maps: decides, block by block, where a
// stretch of continuous sound begins in the PCM stream and when its first
// sample was captured.
//
// A block's last sample arrived just now, so its first was captured a
// block's duration ago. A stretch begins with the first sound stored, after
// a silence cut (part or all of a block left out), after a loss (overrun,
// stall, a restarted stream, a full ring) and whenever the clock time the
// sample count predicts has drifted from the wall clock by more than
// kDriftMs: the sound card's clock and the system's never run quite alike,
// and the wall clock may be stepped.
//
// A block never arrives before its last sample was captured, but often
// after (the input's period, the thread's wake-up): over the first
// kRefineBlocks of a stretch, a block that arrives earlier than the count
// from the stretch's stamp predicts moves that stamp earlier, with a
// Continued stamp at the same place that replaces it.
//
// Contract: pure and single-threaded; the capture callback owns one and uses
// it on the input's thread.
#pragma once

#include <cstdint>
#include <optional>

#include "base/TimeStamps.h"

namespace vorta {

class SegmentStamper {
 public:
  static constexpr std::int64_t kDriftMs = 300;
  static constexpr int kRefineBlocks = 4;
  static constexpr std::int64_t kRefineMs = 5;

  explicit SegmentStamper(std::int64_t bytesPerSecond)
      : bytesPerSecond_(bytesPerSecond > 0 ? bytesPerSecond : 1) {}

  // Sound was lost: the next sound stored begins a new stretch.
  void lost(SegmentReason why);
  // After a block of `blockBytes` that arrived at `nowMs` (wall clock), of
  // which the first `stored` bytes went into the ring. The stamp to pass on,
  // if one is due.
  std::optional<TimeStamp> afterBlock(std::uint32_t blockBytes, std::uint32_t stored,
                                      std::int64_t nowMs);
  // The last block's `stored` bytes did not go into the ring after all (it
  // was full): the next sound stored begins a new stretch at the same place.
  void dropped(std::uint32_t stored);

 private:
  std::int64_t msOf(std::uint64_t bytes) const {
    return static_cast<std::int64_t>(bytes) * 1000 / bytesPerSecond_;
  }

  const std::int64_t bytesPerSecond_;
  std::optional<SegmentReason> pending_ = SegmentReason::Start;
  std::uint64_t storedBytes_ = 0;  // the ring position of the next byte stored
  std::uint64_t anchorByte_ = 0;   // the last stamp's position and time
  std::int64_t anchorMs_ = 0;
  int blocksSinceStamp_ = 0;
};

}  // namespace vorta
