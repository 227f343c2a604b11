#include "encode/StreamFrames.h"

namespace vorta {

void StreamFrames::add(std::span<const std::uint8_t> bytes) {
  walk_.add(bytes.data(), bytes.size(), [this](std::uint64_t start, std::uint32_t) {
    offsets_[count_ % kRemembered] = start;
    ++count_;
  });
}

std::optional<std::uint64_t> StreamFrames::offsetOf(std::uint64_t index) const {
  if (index >= count_ || count_ - index > kRemembered) return std::nullopt;
  return offsets_[index % kRemembered];
}

std::uint64_t StreamFrames::indexAt(std::uint64_t offset) const {
  for (std::uint64_t i = count_; i > 0 && count_ - i < kRemembered; --i) {
    const std::uint64_t at = offsets_[(i - 1) % kRemembered];
    if (at == offset) return i - 1;
    if (at < offset) break;
  }
  return count_;
}

}  // namespace vorta
