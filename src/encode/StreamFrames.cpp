#include "encode/StreamFrames.h"

#include "encode/MpegFrame.h"

namespace vorta {

void StreamFrames::add(std::span<const std::uint8_t> bytes) {
  const std::uint64_t from = added_;
  added_ += bytes.size();
  while (!lost_ && nextFrame_ + headerHave_ < added_) {
    header_[headerHave_] = bytes[nextFrame_ + headerHave_ - from];
    if (++headerHave_ < header_.size()) continue;
    headerHave_ = 0;
    const std::uint32_t length = mpegFrameLength(header_.data());
    if (length == 0) {
      lost_ = true;
      return;
    }
    offsets_[count_ % kRemembered] = nextFrame_;
    ++count_;
    nextFrame_ += length;
  }
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
