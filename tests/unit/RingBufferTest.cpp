#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Fakes.h"
#include "base/Messages.h"
#include "base/RingBuffer.h"

namespace vorta {
namespace {

std::vector<std::uint8_t> bytes(std::uint32_t n, std::uint8_t first) {
  std::vector<std::uint8_t> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

// Leaves the buffer empty with its positions at `at`.
void moveTo(RingBuffer& ring, std::uint32_t at) {
  std::vector<std::uint8_t> scratch(at);
  ASSERT_EQ(ring.write(scratch.data(), at), 0);
  ASSERT_EQ(ring.read(scratch.data(), at), 0);
}

TEST(RingBuffer, WholeCapacityIsUsableAndOverflowChangesNothing) {
  KeptText text;
  RingBuffer ring(16);
  EXPECT_TRUE(ring.empty());
  EXPECT_EQ(ring.available(), 0u);
  const auto in = bytes(16, 1);
  ASSERT_EQ(ring.write(in.data(), 16), 0);
  EXPECT_EQ(ring.available(), 16u);
  EXPECT_FALSE(ring.empty());

  const std::uint8_t extra = 99;
  EXPECT_EQ(ring.write(&extra, 1, 1), 1);
  EXPECT_EQ(text.out, "\nError: buffer overflow\n");
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(ring.available(), 16u);

  std::vector<std::uint8_t> out(16);
  std::uint64_t crossed = 0;
  ASSERT_EQ(ring.read(out.data(), 16, &crossed), 0);
  EXPECT_EQ(out, in);
  EXPECT_FALSE(crossed) << "the refused write must not have set a mark";
  EXPECT_TRUE(ring.empty());
  EXPECT_EQ(ring.available(), 0u);
}

TEST(RingBuffer, UnderflowIsRefusedAtOnceAndLeavesEverything) {
  KeptText text;
  RingBuffer ring(16);
  const auto in = bytes(5, 10);
  ASSERT_EQ(ring.write(in.data(), 5, 1), 0);
  std::vector<std::uint8_t> out(6, 0xEE);
  std::uint64_t crossed = 1;
  EXPECT_EQ(ring.read(out.data(), 6, &crossed), 1);
  EXPECT_EQ(text.out, "\nError: buffer underflow\n");
  EXPECT_TRUE(crossed) << "a failed read must not write markCrossed";
  EXPECT_EQ(out, std::vector<std::uint8_t>(6, 0xEE));
  EXPECT_EQ(ring.available(), 5u);

  crossed = 0;
  ASSERT_EQ(ring.read(out.data(), 5, &crossed), 0);
  EXPECT_TRUE(crossed) << "the mark survives the failed read";
  EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin()));
}

TEST(RingBuffer, ZeroLengthOperationsChangeNothing) {
  KeptText text;
  RingBuffer ring(8);
  EXPECT_EQ(ring.write(nullptr, 0, 1), 0);
  EXPECT_TRUE(ring.empty());
  const auto in = bytes(4, 0);
  ASSERT_EQ(ring.write(in.data(), 4), 0);
  std::uint64_t crossed = 1;
  EXPECT_EQ(ring.read(nullptr, 0, &crossed), 0);
  EXPECT_TRUE(crossed);
  std::vector<std::uint8_t> out(4);
  crossed = 1;
  ASSERT_EQ(ring.read(out.data(), 4, &crossed), 0);
  EXPECT_FALSE(crossed) << "the 0-byte write set a mark";
  EXPECT_EQ(text.out, "");
}

TEST(RingBuffer, WriteEndingAtTheLastCellWrapsAndStraddlingDataComesBackInOrder) {
  RingBuffer ring(10);
  moveTo(ring, 6);
  const auto a = bytes(4, 1);  // ends exactly at the last cell
  ASSERT_EQ(ring.write(a.data(), 4), 0);
  const auto b = bytes(6, 50);  // now at index 0: fills the rest exactly
  ASSERT_EQ(ring.write(b.data(), 6), 0);
  EXPECT_EQ(ring.available(), 10u);

  std::vector<std::uint8_t> out(10);
  ASSERT_EQ(ring.read(out.data(), 3), 0);
  ASSERT_EQ(ring.read(out.data() + 3, 7), 0);  // a read that straddles the end
  std::vector<std::uint8_t> expected(a);
  expected.insert(expected.end(), b.begin(), b.end());
  EXPECT_EQ(out, expected);
  EXPECT_TRUE(ring.empty());

  const auto c = bytes(8, 200);  // straddling write: 4 at the end, 4 at the start
  ASSERT_EQ(ring.write(c.data(), 8), 0);
  std::vector<std::uint8_t> back(8);
  ASSERT_EQ(ring.read(back.data(), 8), 0);
  EXPECT_EQ(back, c);
}

struct MarkCase {
  std::uint32_t markOffset;  // from the read position
  bool crossed;
};

TEST(RingBuffer, MarkIsReportedWhenTheReadReachesItBothEndsIncluded) {
  const MarkCase cases[] = {{0, true}, {4, true}, {5, false}};
  for (const MarkCase& c : cases) {
    SCOPED_TRACE(c.markOffset);
    RingBuffer ring(32);
    moveTo(ring, 3);
    const auto before = bytes(c.markOffset, 0);
    ASSERT_EQ(ring.write(before.data(), c.markOffset), 0);
    const auto marked = bytes(8, 100);
    ASSERT_EQ(ring.write(marked.data(), 8, 1), 0);
    std::vector<std::uint8_t> out(4);
    std::uint64_t crossed = c.crossed ? 0 : 1;
    ASSERT_EQ(ring.read(out.data(), 4, &crossed), 0);
    EXPECT_EQ(crossed != 0, c.crossed);
    // Reported once: the rest either reports it now (not yet crossed) or not.
    std::vector<std::uint8_t> rest(ring.available());
    std::uint64_t again = 0;
    ASSERT_EQ(ring.read(rest.data(), static_cast<std::uint32_t>(rest.size()), &again), 0);
    EXPECT_EQ(again != 0, !c.crossed);
  }
}

TEST(RingBuffer, WrappingReadReportsMarksOnBothSidesOfTheEnd) {
  // Storage 16; reads of 8 from position 12 cover 12..15 and 0..3, plus the
  // place just after (4).
  const std::uint32_t markPositions[] = {12, 15, 0, 4};
  for (std::uint32_t mark : markPositions) {
    SCOPED_TRACE(mark);
    RingBuffer ring(16);
    moveTo(ring, 12);
    const std::uint32_t lead = (mark + 16 - 12) % 16;
    const auto first = bytes(lead, 0);
    ASSERT_EQ(ring.write(first.data(), lead), 0);
    const auto second = bytes(10 - lead, 50);
    ASSERT_EQ(ring.write(second.data(), 10 - lead, 1), 0);
    std::vector<std::uint8_t> out(8);
    std::uint64_t crossed = 0;
    ASSERT_EQ(ring.read(out.data(), 8, &crossed), 0);
    EXPECT_TRUE(crossed);
    ASSERT_EQ(ring.read(out.data(), 2, &crossed), 0);
    EXPECT_FALSE(crossed);
  }
  // A mark one past the new read position stays.
  RingBuffer ring(16);
  moveTo(ring, 12);
  const auto first = bytes(9, 0);
  ASSERT_EQ(ring.write(first.data(), 9), 0);
  const auto second = bytes(1, 9);
  ASSERT_EQ(ring.write(second.data(), 1, 1), 0);  // at index 5
  std::vector<std::uint8_t> out(8);
  std::uint64_t crossed = 1;
  ASSERT_EQ(ring.read(out.data(), 8, &crossed), 0);
  EXPECT_FALSE(crossed);
  ASSERT_EQ(ring.read(out.data(), 2, &crossed), 0);
  EXPECT_TRUE(crossed);
}

TEST(RingBuffer, SecondMarkReplacesTheFirst) {
  RingBuffer ring(64);
  const auto a = bytes(10, 0);
  ASSERT_EQ(ring.write(a.data(), 10, 1), 0);   // mark at 0
  ASSERT_EQ(ring.write(a.data(), 10), 0);
  ASSERT_EQ(ring.write(a.data(), 10, 1), 0);   // mark at 20
  ASSERT_EQ(ring.write(a.data(), 10), 0);
  std::vector<std::uint8_t> out(10);
  std::uint64_t crossed = 1;
  ASSERT_EQ(ring.read(out.data(), 10, &crossed), 0);  // 0..10: first mark gone
  EXPECT_FALSE(crossed);
  ASSERT_EQ(ring.read(out.data(), 5, &crossed), 0);   // 10..15
  EXPECT_FALSE(crossed);
  ASSERT_EQ(ring.read(out.data(), 5, &crossed), 0);   // 15..20 reaches 20
  EXPECT_TRUE(crossed);
  ASSERT_EQ(ring.read(out.data(), 10, &crossed), 0);
  EXPECT_FALSE(crossed);
}

// One writer and one reader with random sizes and random marks; a third
// thread keeps counting. Every byte must arrive in order, every mark exactly
// once and never before the data written ahead of it has been read.
TEST(RingBuffer, TwoThreadsMoveEveryByteInOrderAndEveryMarkOnce) {
  KeptText text;  // refused writes and reads print; they are expected here
  constexpr std::uint32_t kSize = 4099;
  constexpr std::uint64_t kTotal = 6'000'000;
  RingBuffer ring(kSize);
  std::atomic<bool> done{false};
  std::vector<std::uint64_t> markStarts;  // stream offset of each marked write
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reports;  // reporting reads

  std::thread writer([&] {
    std::mt19937 rng(1);
    std::vector<std::uint8_t> buf(kSize);
    std::uint64_t sent = 0;
    std::uint64_t lastMark = 0;
    bool markOutstanding = false;
    while (sent < kTotal) {
      const std::uint32_t n = std::uniform_int_distribution<std::uint32_t>(1, 1500)(rng);
      for (std::uint32_t i = 0; i < n; ++i) buf[i] = static_cast<std::uint8_t>((sent + i) * 7 + 3);
      // A mark is only set once the previous one has certainly been read, so
      // that no mark replaces another and each must be reported.
      const bool mark = !markOutstanding && rng() % 8 == 0;
      if (ring.write(buf.data(), n, mark ? 1 : 0) != 0) {
        std::this_thread::yield();
        continue;
      }
      if (mark) {
        markStarts.push_back(sent);
        lastMark = sent;
        markOutstanding = true;
      }
      sent += n;
      if (markOutstanding && ring.available() <= sent - lastMark - 1) markOutstanding = false;
    }
  });

  std::thread counter([&] {
    while (!done.load(std::memory_order_relaxed)) {
      const std::uint32_t n = ring.available();
      EXPECT_LE(n, kSize);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });

  std::mt19937 rng(2);
  std::vector<std::uint8_t> buf(kSize);
  std::uint64_t got = 0;
  std::uint64_t wrong = 0;
  while (got < kTotal) {
    const std::uint32_t held = ring.available();
    if (held == 0) {
      std::this_thread::yield();
      continue;
    }
    const std::uint32_t n = std::uniform_int_distribution<std::uint32_t>(1, held)(rng);
    std::uint64_t crossed = 0;
    ASSERT_EQ(ring.read(buf.data(), n, &crossed), 0);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (buf[i] != static_cast<std::uint8_t>((got + i) * 7 + 3)) ++wrong;
    }
    if (crossed) reports.emplace_back(got, got + n);
    got += n;
  }
  done = true;
  writer.join();
  counter.join();

  EXPECT_EQ(wrong, 0u);
  ASSERT_EQ(reports.size(), markStarts.size());
  ASSERT_GT(markStarts.size(), 10u);
  for (std::size_t i = 0; i < markStarts.size(); ++i) {
    // The reporting read covers the marked byte or ends just before it.
    EXPECT_LE(reports[i].first, markStarts[i]);
    EXPECT_GE(reports[i].second, markStarts[i]);
  }
}

}  // namespace
}  // namespace vorta
