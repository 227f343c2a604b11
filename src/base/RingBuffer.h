// A fixed-size byte FIFO between one writer thread and one reader thread,
// with one split mark: the writer can tag where one write begins (a non-zero
// tag of its choosing), and the read that reaches that place reports the tag,
// once.
//
// Threads: write() only from the instance's writer, read() only from its
// reader, available() and empty() from any thread. The bookkeeping of a
// write, a read and the count of available() never overlaps; the copies of a
// write and a read run side by side (see the .cpp for the exclusion).
// Neither write nor read blocks for space or data: a write that does not fit
// and a read of more than is held fail at once, print their message and
// change nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace vorta {

class RingBuffer {
 public:
  explicit RingBuffer(std::uint32_t size);
  ~RingBuffer();
  RingBuffer(const RingBuffer&) = delete;
  RingBuffer& operator=(const RingBuffer&) = delete;

  // 0 on success, 1 on overflow ("\nError: buffer overflow\n" on stdout).
  // mark 0 sets no mark; any other value marks where this write begins and
  // replaces an unreported mark. A write of 0 bytes succeeds and sets no mark.
  int write(const void* source, std::uint32_t length, std::uint64_t mark = 0);
  // 0 on success, 1 on underflow ("\nError: buffer underflow\n" on stdout).
  // markTag, when given, is written only by a successful non-empty read: the
  // tag of the mark this read reached (0: none).
  int read(void* destination, std::uint32_t length, std::uint64_t* markTag = nullptr);
  // Bytes held.
  std::uint32_t available();
  // The empty flag, read without waiting.
  bool empty() const;
  std::uint32_t size() const { return size_; }

 private:
  // Waits (a few yields, then 1 ms between looks) until no side holds the
  // buffer, then sets `bits` in busy_; release clears them.
  void claim(std::uint32_t bits);
  void release(std::uint32_t bits);
  // Under the exclusion only.
  std::uint32_t heldBytes() const;
  bool markInRange(std::uint64_t end) const;

  const std::uint32_t size_;
  std::unique_ptr<std::uint8_t[]> data_;
  // Positions and flags, touched only under the busy-word exclusion.
  std::uint32_t writePos_ = 0;
  std::uint32_t readPos_ = 0;
  std::uint32_t splitMark_ = 0xFFFFFFFFu;
  std::uint64_t markTag_ = 0;
  bool wrapped_ = false;
  // Written only under the exclusion; read without waiting by the encoder's
  // end test and by available(). Release stores, acquire loads: whoever sees
  // the buffer not empty also sees the write that made it so.
  std::atomic<bool> empty_{true};
  // Bit 0 writer busy, bit 1 reader busy, bit 2 counting: one word changed by
  // compare-and-exchange, so testing the other side and claiming one's own
  // is a single atomic step. Bit 3: a write is under way (for empty() only).
  std::atomic<std::uint32_t> busy_{0};
};

}  // namespace vorta
