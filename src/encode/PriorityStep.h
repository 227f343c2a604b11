// The encoder thread's adaptive priority, pure: one level above its base
// while less than half of pcmRing is free, back to the base once 70 % is free
// again, so a slow moment never lets the ring overflow while the thread does
// not hold a raised level longer than it needs. A thread started above
// normal keeps its level. Owned by the encoder thread.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "platform/Threads.h"

namespace vorta {

// The free share of a ring in whole percent (0..100), for any size: 64-bit,
// as 100 x a large ring's size does not fit 32 bits.
inline int freePercent(std::uint64_t size, std::uint64_t held) {
  return size == 0 ? 100 : static_cast<int>((size - held) * 100 / size);
}

class PriorityStep {
 public:
  explicit PriorityStep(PriorityLevel base) : base_(base) {}

  // The level to set after a pass that left `free` percent of pcmRing free;
  // none when the level stays. A fall from 50 % or more to below 50 % raises
  // it, a climb from below 70 % to 70 % or more returns it to the base.
  std::optional<PriorityLevel> after(int free) {
    if (base_ != PriorityLevel::Normal || free == previous_) return std::nullopt;
    const int previous = std::exchange(previous_, free);
    if (free < 50 && previous >= 50) return PriorityLevel::AboveNormal;
    if (free >= 70 && previous < 70) return base_;
    return std::nullopt;
  }

 private:
  PriorityLevel base_;
  int previous_ = -1;  // none yet: the first pass raises nothing
};

}  // namespace vorta
