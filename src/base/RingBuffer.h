// A fixed-size byte FIFO between one writer thread and one reader thread,
// with one split mark: the writer can tag where one write begins (a non-zero
// tag of its choosing), and the read that reaches that place reports the tag,
// once.
//
// Threads: write() only from the instance's writer, read() only from its
// reader (one thread may be both), available(), empty() and size() from any
// thread. No lock: each side publishes its own position with one atomic store
// and copies outside any exclusion, so the writer never waits for the reader
// nor the reader for the writer. Neither write nor read waits for space or
// data either: a write that does not fit and a read of more than is held fail
// at once, print their message and change nothing. A side that has to wait
// for the other waits on its own event, outside the ring.
//
// Memory: a ring larger than kKeepPagesUpTo gives the pages the reader has
// passed back to the system, a step of kDiscardStep at a time, so its
// resident memory follows what it holds rather than every byte it has ever
// held. Smaller rings keep their pages: for them the page faults of the next
// lap would cost more than the memory is worth.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace vorta {

class RingBuffer {
 public:
  static constexpr std::uint32_t kDiscardStep = 1u << 20;
  static constexpr std::uint32_t kKeepPagesUpTo = 8u << 20;

  explicit RingBuffer(std::uint32_t size);
  ~RingBuffer();
  RingBuffer(const RingBuffer&) = delete;
  RingBuffer& operator=(const RingBuffer&) = delete;

  // True when written; false on overflow (nothing is written; the caller
  // reports it).
  // mark 0 sets no mark; any other value marks where this write begins and
  // replaces an unreported mark. A write of 0 bytes succeeds and sets no mark.
  [[nodiscard]] bool write(const void* source, std::uint32_t length, std::uint64_t mark = 0);
  // True when read; false on underflow (nothing is read).
  // markTag, when given, is written only by a successful non-empty read: the
  // tag of the mark this read reached (0: none). A mark counts as reached by
  // a read that covers its first byte or ends right before it.
  [[nodiscard]] bool read(void* destination, std::uint32_t length, std::uint64_t* markTag = nullptr);
  // Bytes held, as far as the calling thread can know: on the reader's thread
  // every byte counted can be read, on the writer's thread size() minus the
  // count can be written; from a third thread a figure for display, at most
  // size().
  std::uint32_t available() const;
  // True when the ring held nothing and no write was under way: a reader
  // that tests for the end never leaves a write in progress behind.
  bool empty() const;
  std::uint32_t size() const { return size_; }

 private:
  struct FreeStorage {
    void operator()(std::uint8_t* p) const;
  };
  static constexpr std::uint64_t kNoMark = ~std::uint64_t{0};

  void copyIn(std::uint64_t at, const std::uint8_t* from, std::uint32_t length);
  void copyOut(std::uint64_t at, std::uint8_t* to, std::uint32_t length) const;
  std::uint64_t takeMark(std::uint64_t readEnd, std::uint64_t written);
  void discardPassedPages(std::uint64_t read, std::uint64_t written);

  const std::uint32_t size_;
  std::unique_ptr<std::uint8_t[], FreeStorage> data_;

  // Positions count every byte ever written and read (2^64 bytes is never
  // reached), so full and empty need no extra flag: held = written - read.
  // A byte's cell is its position modulo size_. Each is stored by one side
  // only and sits on its own cache line, so the two sides' stores do not
  // fight over one line.
  //
  // writeCount_: stored by the writer with release after the bytes are
  // copied in; loaded by the reader with acquire, so the bytes it then copies
  // out are the ones written.
  alignas(64) std::atomic<std::uint64_t> writeCount_{0};
  // readCount_: stored by the reader with release after the bytes are copied
  // out; loaded by the writer with acquire, so its copy into that space (or
  // the discarding of it) comes after the reader is done there.
  alignas(64) std::atomic<std::uint64_t> readCount_{0};
  // Writer only: the position where the next step of pages to discard begins.
  std::uint64_t discardedTo_ = 0;

  // The split mark: the position of the marked write's first byte (kNoMark:
  // none) and its tag. Set by the writer before it publishes the marked
  // bytes, taken by the reader with compare-and-exchange so it is reported
  // once. Sequentially consistent, so a reader that sees a replacing tag
  // also sees the old position withdrawn and cannot pair them (see .cpp).
  alignas(64) std::atomic<std::uint64_t> markAt_{kNoMark};
  std::atomic<std::uint64_t> markTag_{0};
  // Set by the writer for the whole of a write, for empty().
  std::atomic<bool> writing_{false};
};

}  // namespace vorta
