#include "base/TimeStamps.h"

namespace vorta {

bool TimeStampQueue::push(const TimeStamp& stamp) {
  const std::uint64_t pushed = pushed_.load(std::memory_order_relaxed);  // own count
  if (pushed - popped_.load(std::memory_order_acquire) >= kCapacity) return false;
  stamps_[pushed % kCapacity] = stamp;
  pushed_.store(pushed + 1, std::memory_order_release);
  return true;
}

std::optional<TimeStamp> TimeStampQueue::popBefore(std::uint64_t pcmByteLimit) {
  const std::uint64_t popped = popped_.load(std::memory_order_relaxed);  // own count
  if (pushed_.load(std::memory_order_acquire) == popped) return std::nullopt;
  const TimeStamp stamp = stamps_[popped % kCapacity];
  if (stamp.pcmByte >= pcmByteLimit) return std::nullopt;
  popped_.store(popped + 1, std::memory_order_release);
  return stamp;
}

}  // namespace vorta
