#include "base/RingBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/Memory.h"

// Why no lock is needed: the writer only ever copies into the free part
// [writeCount_, readCount_ + size_) and then moves writeCount_; the reader
// only ever copies out of the held part [readCount_, writeCount_) and then
// moves readCount_. Each side reads the other's position once per call; what
// it sees can only be behind the truth, which makes the free part look
// smaller to the writer and the held part smaller to the reader, never the
// other way round. So the two copies never touch the same byte, and they run
// side by side. The writer also gives back pages of its free part (see
// discardPassedPages), which the reader no longer touches.
//
// The mark: the writer sets it (tag, then position) before it publishes the
// marked write, so a reader that sees the position below the write count it
// loaded also sees the marked bytes published. Replacing a mark withdraws the
// old position first; the reader takes a mark by exchanging the position it
// saw for kNoMark. With every mark access sequentially consistent, a reader
// that loaded a replacing tag finds the old position already withdrawn and
// its exchange fails, so no position is reported with another one's tag.

namespace vorta {

void RingBuffer::FreeStorage::operator()(std::uint8_t* p) const {
  ::operator delete[](p, std::align_val_t{memoryPageBytes()});
}

// Page-aligned storage, so that steps of discarded pages are whole pages.
// The pages become resident only as the writer first touches them.
RingBuffer::RingBuffer(std::uint32_t size)
    : size_(size),
      data_(static_cast<std::uint8_t*>(
          ::operator new[](size == 0 ? 1 : size, std::align_val_t{memoryPageBytes()}))) {}

RingBuffer::~RingBuffer() = default;

void RingBuffer::copyIn(std::uint64_t at, const std::uint8_t* from, std::uint32_t length) {
  const auto cell = static_cast<std::uint32_t>(at % size_);
  const std::uint32_t first = std::min(length, size_ - cell);
  std::memcpy(data_.get() + cell, from, first);
  std::memcpy(data_.get(), from + first, length - first);
}

void RingBuffer::copyOut(std::uint64_t at, std::uint8_t* to, std::uint32_t length) const {
  const auto cell = static_cast<std::uint32_t>(at % size_);
  const std::uint32_t first = std::min(length, size_ - cell);
  std::memcpy(to, data_.get() + cell, first);
  std::memcpy(to + first, data_.get(), length - first);
}

bool RingBuffer::write(const void* source, std::uint32_t length, std::uint64_t mark) {
  if (length == 0) return true;
  // Sequentially consistent: a reader's end test that finds writing_ clear
  // cannot also miss the bytes of a write that had begun before it looked.
  writing_.store(true);
  const std::uint64_t start = writeCount_.load(std::memory_order_relaxed);  // own position
  const std::uint64_t read = readCount_.load(std::memory_order_acquire);
  if (length > size_ - (start - read)) {
    writing_.store(false, std::memory_order_release);
    return false;
  }
  copyIn(start, static_cast<const std::uint8_t*>(source), length);
  if (mark != 0) {
    markAt_.store(kNoMark);  // withdraw an unreported mark before its tag changes
    markTag_.store(mark);
    markAt_.store(start);
  }
  writeCount_.store(start + length, std::memory_order_release);
  // Release: whoever sees the write finished also sees its bytes counted.
  writing_.store(false, std::memory_order_release);
  discardPassedPages(read, start + length);
  return true;
}

// The tag of the mark in [start, readEnd], taken so it is reported once; 0
// when there is none. A mark at or past `written` belongs to a write not yet
// published when the count was loaded: it is left for a later read.
std::uint64_t RingBuffer::takeMark(std::uint64_t readEnd, std::uint64_t written) {
  std::uint64_t at = markAt_.load();
  while (at != kNoMark && at <= readEnd && at < written) {
    const std::uint64_t tag = markTag_.load();
    if (markAt_.compare_exchange_strong(at, kNoMark)) return tag;
    // Replaced meanwhile: `at` now holds the current position; look again.
  }
  return 0;
}

// Discards the steps of storage that the reader has passed and this side
// has not written again: a step is kDiscardStep bytes starting at a multiple
// of it (the last one ends with the storage). The writer does it, not the
// reader: the free part is the writer's alone, so nobody else touches those
// pages meanwhile, whereas a reader would have to discard pages partly
// consumed by earlier reads, which the writer may already be filling again.
// A step the writer has reached again (the ring nearly full) holds new bytes
// and is skipped for this lap.
void RingBuffer::discardPassedPages(std::uint64_t read, std::uint64_t written) {
  if (size_ <= kKeepPagesUpTo) return;
  for (;;) {
    const auto cell = static_cast<std::uint32_t>(discardedTo_ % size_);
    const std::uint32_t step = std::min(kDiscardStep, size_ - cell);
    if (read - discardedTo_ < step) return;
    if (written <= discardedTo_ + size_) discardPages(data_.get() + cell, step);
    discardedTo_ += step;
  }
}

bool RingBuffer::read(void* destination, std::uint32_t length, std::uint64_t* markTag) {
  if (length == 0) return true;
  const std::uint64_t start = readCount_.load(std::memory_order_relaxed);  // own position
  const std::uint64_t written = writeCount_.load(std::memory_order_acquire);
  if (length > written - start) return false;
  const std::uint64_t end = start + length;
  copyOut(start, static_cast<std::uint8_t*>(destination), length);
  const std::uint64_t tag = takeMark(end, written);
  readCount_.store(end, std::memory_order_release);
  if (markTag) *markTag = tag;
  return true;
}

std::uint32_t RingBuffer::available() const {
  // The read count first: both only grow and read <= written, so a written
  // count loaded after it is never the smaller. From a third thread both
  // may have moved between the loads, so the difference is capped at size_.
  const std::uint64_t read = readCount_.load(std::memory_order_acquire);
  const std::uint64_t written = writeCount_.load(std::memory_order_acquire);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(written - read, size_));
}

bool RingBuffer::empty() const {
  // Acquire pairs with the release that clears writing_: a finished write
  // is counted by the loads below.
  if (writing_.load()) return false;
  const std::uint64_t read = readCount_.load(std::memory_order_acquire);
  return writeCount_.load(std::memory_order_acquire) == read;
}

}  // namespace vorta
