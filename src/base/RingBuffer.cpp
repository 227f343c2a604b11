#include "base/RingBuffer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/Messages.h"

// Exclusion: busy_ is the buffer's lock. A write, a read and the count of
// available() each claim their own bit with one compare-and-exchange while no
// other side holds the buffer, so testing the others and claiming for oneself
// is a single step. The claim is an acquire (everything the previous holder
// did to the positions is visible), letting go is a release (everything done
// here is published to the next holder).
//
// The lock covers the bookkeeping only, never the copies: a write claims,
// checks the space and lets go, copies into the free part (which the reader
// never touches), then claims again to move writePos_ and set the mark; a
// read likewise copies out of the held part (which the writer never touches)
// between its check and the step of readPos_. Only the writer moves writePos_
// and only the reader moves readPos_, so what one side saw at its check can
// only have grown for it by the time it publishes. The two copies therefore
// run side by side, and a holder keeps the buffer for a few instructions: the
// waiting side yields a few times before it sleeps 1 ms between looks.
//
// kWriting stays set from a write's check to its publishing step; it takes
// no part in the exclusion and only tells empty() that a write is under way.
//
// Every field but busy_ and empty_ is touched only while holding busy_.

namespace vorta {
namespace {

constexpr std::uint32_t kWriterBusy = 1u;
constexpr std::uint32_t kReaderBusy = 2u;
constexpr std::uint32_t kCounting = 4u;
constexpr std::uint32_t kHolding = kWriterBusy | kReaderBusy | kCounting;
constexpr std::uint32_t kWriting = 8u;
constexpr int kYieldsBeforeSleep = 64;
constexpr std::uint32_t kNoMark = 0xFFFFFFFFu;

}  // namespace

RingBuffer::RingBuffer(std::uint32_t size)
    : size_(size), data_(new std::uint8_t[size == 0 ? 1 : size]) {}

RingBuffer::~RingBuffer() = default;

void RingBuffer::claim(std::uint32_t bits) {
  for (int looks = 0;; ++looks) {
    std::uint32_t current = busy_.load(std::memory_order_relaxed);
    if ((current & kHolding) == 0 &&
        busy_.compare_exchange_weak(current, current | bits, std::memory_order_acquire,
                                    std::memory_order_relaxed)) {
      return;
    }
    if (looks < kYieldsBeforeSleep) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

void RingBuffer::release(std::uint32_t bits) {
  busy_.fetch_and(~bits, std::memory_order_release);
}

std::uint32_t RingBuffer::heldBytes() const {
  return wrapped_ ? size_ - readPos_ + writePos_ : writePos_ - readPos_;
}

int RingBuffer::write(const void* source, std::uint32_t length, std::uint64_t mark) {
  if (length == 0) return 0;
  claim(kWriterBusy | kWriting);
  if (length > size_ - heldBytes()) {
    release(kWriterBusy | kWriting);
    say(Msg::RingOverflow);
    return 1;
  }
  const std::uint32_t start = writePos_;
  release(kWriterBusy);
  // The free part from start on is this thread's until writePos_ moves.
  const auto* from = static_cast<const std::uint8_t*>(source);
  const std::uint32_t firstPiece = std::min(length, size_ - start);
  std::memcpy(data_.get() + start, from, firstPiece);
  std::memcpy(data_.get(), from + firstPiece, length - firstPiece);
  claim(kWriterBusy);
  if (mark != 0) {
    splitMark_ = start;
    markTag_ = mark;
  }
  // Computed in 64 bits: start + length may exceed 32 bits for a huge ring.
  std::uint64_t end = std::uint64_t{start} + length;
  if (end >= size_) {
    end -= size_;
    wrapped_ = true;
  }
  writePos_ = static_cast<std::uint32_t>(end);
  empty_.store(false, std::memory_order_release);
  release(kWriterBusy | kWriting);
  return 0;
}

bool RingBuffer::markInRange(std::uint64_t end) const {
  if (splitMark_ == kNoMark) return false;
  // Both ends included: a mark just after the last byte read counts too.
  if (end <= size_) return readPos_ <= splitMark_ && splitMark_ <= end;
  return splitMark_ >= readPos_ || splitMark_ <= end - size_;
}

int RingBuffer::read(void* destination, std::uint32_t length, std::uint64_t* markTag) {
  if (length == 0) return 0;
  claim(kReaderBusy);
  if (length > heldBytes()) {
    release(kReaderBusy);
    say(Msg::RingUnderflow);
    return 1;
  }
  const std::uint32_t start = readPos_;
  release(kReaderBusy);
  // The held part from start on stays as it is until readPos_ moves.
  auto* to = static_cast<std::uint8_t*>(destination);
  const std::uint32_t firstPiece = std::min(length, size_ - start);
  std::memcpy(to, data_.get() + start, firstPiece);
  std::memcpy(to + firstPiece, data_.get(), length - firstPiece);
  claim(kReaderBusy);
  std::uint64_t end = std::uint64_t{start} + length;
  const bool crossed = markInRange(end);
  if (end >= size_) {
    end -= size_;
    wrapped_ = false;
  }
  readPos_ = static_cast<std::uint32_t>(end);
  if (readPos_ == writePos_ && !wrapped_) empty_.store(true, std::memory_order_release);
  const std::uint64_t tag = crossed ? markTag_ : 0;
  if (crossed) splitMark_ = kNoMark;
  if (markTag) *markTag = tag;
  release(kReaderBusy);
  return 0;
}

std::uint32_t RingBuffer::available() {
  if (empty_.load(std::memory_order_acquire)) return 0;
  claim(kCounting);
  const std::uint32_t held = heldBytes();
  release(kCounting);
  return held;
}

bool RingBuffer::empty() const {
  // A write in progress counts as not empty, so its bytes are not left
  // behind by a reader that tests for the end. The busy word is loaded first:
  // a write that claims after that load has set empty_ false by the time it
  // lets go, and a write still holding the buffer shows here.
  if (busy_.load(std::memory_order_acquire) & (kWriterBusy | kWriting)) return false;
  return empty_.load(std::memory_order_acquire);
}

}  // namespace vorta
