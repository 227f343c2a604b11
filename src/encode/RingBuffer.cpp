#include "encode/RingBuffer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "control/Messages.h"

// Exclusion: busy_ is the buffer's lock. A write, a read and the count of
// available() each claim their own bit with one compare-and-exchange from 0,
// so a side proceeds only when no other side holds the buffer, and testing
// the others and claiming for oneself is a single step. The claim is an
// acquire (everything the previous holder did to the positions and the
// storage is visible), letting go is a release (everything done here is
// published to the next holder). The waiting side sleeps 1 ms between looks:
// a holder keeps the buffer only for two block copies.
//
// Every field but busy_ and empty_ is touched only while holding busy_.

namespace vorta {
namespace {

constexpr std::uint32_t kWriterBusy = 1u;
constexpr std::uint32_t kReaderBusy = 2u;
constexpr std::uint32_t kCounting = 4u;
constexpr std::uint32_t kNoMark = 0xFFFFFFFFu;

}  // namespace

RingBuffer::RingBuffer(std::uint32_t size)
    : size_(size), data_(new std::uint8_t[size == 0 ? 1 : size]) {}

RingBuffer::~RingBuffer() = default;

void RingBuffer::claim(std::uint32_t bit) {
  for (;;) {
    std::uint32_t expected = 0;
    if (busy_.compare_exchange_strong(expected, bit, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void RingBuffer::release() { busy_.store(0, std::memory_order_release); }

std::uint32_t RingBuffer::heldBytes() const {
  return wrapped_ ? size_ - readPos_ + writePos_ : writePos_ - readPos_;
}

int RingBuffer::write(const void* source, std::uint32_t length, bool setMark) {
  if (length == 0) return 0;
  claim(kWriterBusy);
  if (length > size_ - heldBytes()) {
    release();
    say(Msg::RingOverflow);
    return 1;
  }
  if (setMark) splitMark_ = writePos_;
  const auto* from = static_cast<const std::uint8_t*>(source);
  const std::uint32_t firstPiece = std::min(length, size_ - writePos_);
  std::memcpy(data_.get() + writePos_, from, firstPiece);
  std::memcpy(data_.get(), from + firstPiece, length - firstPiece);
  // Computed in 64 bits: writePos_ + length may exceed 32 bits for a huge ring.
  std::uint64_t end = std::uint64_t{writePos_} + length;
  if (end >= size_) {
    end -= size_;
    wrapped_ = true;
  }
  writePos_ = static_cast<std::uint32_t>(end);
  empty_.store(false, std::memory_order_release);
  release();
  return 0;
}

bool RingBuffer::markInRange(std::uint64_t end) const {
  if (splitMark_ == kNoMark) return false;
  // Both ends included: a mark just after the last byte read counts too.
  if (end <= size_) return readPos_ <= splitMark_ && splitMark_ <= end;
  return splitMark_ >= readPos_ || splitMark_ <= end - size_;
}

int RingBuffer::read(void* destination, std::uint32_t length, bool* markCrossed) {
  if (length == 0) return 0;
  claim(kReaderBusy);
  if (length > heldBytes()) {
    release();
    say(Msg::RingUnderflow);
    return 1;
  }
  auto* to = static_cast<std::uint8_t*>(destination);
  const std::uint32_t firstPiece = std::min(length, size_ - readPos_);
  std::memcpy(to, data_.get() + readPos_, firstPiece);
  std::memcpy(to + firstPiece, data_.get(), length - firstPiece);
  std::uint64_t end = std::uint64_t{readPos_} + length;
  const bool crossed = markInRange(end);
  if (end >= size_) {
    end -= size_;
    wrapped_ = false;
  }
  readPos_ = static_cast<std::uint32_t>(end);
  if (readPos_ == writePos_ && !wrapped_) empty_.store(true, std::memory_order_release);
  if (crossed) splitMark_ = kNoMark;
  if (markCrossed) *markCrossed = crossed;
  release();
  return 0;
}

std::uint32_t RingBuffer::available() {
  if (empty_.load(std::memory_order_acquire)) return 0;
  claim(kCounting);
  const std::uint32_t held = heldBytes();
  release();
  return held;
}

bool RingBuffer::empty() const {
  // A write in progress counts as not empty, so its bytes are not left
  // behind by a reader that tests for the end. The busy word is loaded first:
  // a write that claims after that load has set empty_ false by the time it
  // lets go, and a write still holding the buffer shows here.
  if (busy_.load(std::memory_order_acquire) & kWriterBusy) return false;
  return empty_.load(std::memory_order_acquire);
}

}  // namespace vorta
