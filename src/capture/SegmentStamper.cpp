#include "capture/SegmentStamper.h"

namespace vorta {

// The first sound keeps its Start; a loss says more than a silence cut.
void SegmentStamper::lost(SegmentReason why) {
  if (pending_ && *pending_ != SegmentReason::Silence) return;
  pending_ = why;
}

std::optional<TimeStamp> SegmentStamper::afterBlock(std::uint32_t blockBytes,
                                                    std::uint32_t stored, std::int64_t nowMs) {
  if (stored == 0) {
    if (blockBytes > 0 && !pending_) pending_ = SegmentReason::Silence;
    return std::nullopt;
  }
  const std::int64_t startMs = nowMs - msOf(blockBytes);
  const std::int64_t drift = startMs - (anchorMs_ + msOf(storedBytes_ - anchorByte_));
  std::optional<TimeStamp> stamp;
  if (pending_) {
    stamp = TimeStamp{storedBytes_, startMs, *pending_};
  } else if (drift > kDriftMs || drift < -kDriftMs) {
    stamp = TimeStamp{storedBytes_, startMs, SegmentReason::Continued};
  }
  if (stamp) {
    anchorByte_ = storedBytes_;
    anchorMs_ = startMs;
    blocksSinceStamp_ = 0;
  } else if (++blocksSinceStamp_ <= kRefineBlocks && drift < -kRefineMs) {
    anchorMs_ += drift;  // the stretch's first block came late
    stamp = TimeStamp{anchorByte_, anchorMs_, SegmentReason::Continued};
  }
  pending_.reset();
  storedBytes_ += stored;
  // The rest of the block was silence left out.
  if (stored < blockBytes) pending_ = SegmentReason::Silence;
  return stamp;
}

void SegmentStamper::dropped(std::uint32_t stored) {
  storedBytes_ -= stored;
  pending_ = storedBytes_ == 0 ? SegmentReason::Start : SegmentReason::Overrun;
}

}  // namespace vorta
