#include <gtest/gtest.h>

#include <atomic>
#include <cinttypes>
#include <random>
#include <sstream>
#include <thread>

#include "base/RingBuffer.h"
#include "platform/Memory.h"

namespace vorta {
namespace {

std::uint8_t byteAt(std::uint64_t position) { return static_cast<std::uint8_t>(position * 7 + 3); }

// Size, then "w5": write 5 bytes, "w5#7": marked with tag 7, "r5": read 5 expecting no mark,
// "r5#7": expecting tag 7; "!": refused (1, the message, nothing moved, the tag untouched).
const char* const kScripts[] = {
    "16 w16 w1#7! r16 w0#5 r0 w1 r1 w5#9 r6! r5#9",      // capacity, refusals, 0 bytes
    "32 w8#4 r4#4 r4 w4 w8#5 r4#5 r8 w5 w8#6 r4 r9#6",  // mark at, right after, past a read
    "10 w6 r6 w4 w6 w1! r3 r7 w8 r8 r1!",                // last cell; straddling both ways
    "16 w12 r12 w3 w7#1 r8#1 r2 w6 r6 w4 w6#2 r8#2 r2",  // wrapped reads reach marks at the
    "16 w12 r12 w8 w2#3 r8#3 r2 w6 r6 w9 w1#4 r8 r2#4",  // last cell, cell 0, right after
    "64 w10#1 w10 w10#2 w10 r10 r5 r5#2 r10",            // a second mark replaces the first
    "9437187 w9437187 r9437187 w2000000 r1000000 w5000000 r6000000"};  // passed pages given back

TEST(RingBuffer, ScriptedEdges) {
  for (const char* script : kScripts) {
    SCOPED_TRACE(script);
    std::istringstream ops(script);
    std::uint32_t size = 0, n = 0;
    std::uint64_t sent = 0, got = 0;
    ops >> size;
    RingBuffer ring(size);
    for (std::string op; ops >> op;) {
      std::uint64_t tag = 0, reported = 12345;
      std::sscanf(op.c_str() + 1, "%u#%" SCNu64, &n, &tag);
      const bool write = op[0] == 'w', refused = op.back() == '!';
      std::vector<std::uint8_t> buf(n);
      for (std::uint32_t i = 0; i < n && write; ++i) buf[i] = byteAt(sent + i);
      EXPECT_NE(write ? ring.write(buf.data(), n, tag) : ring.read(buf.data(), n, &reported), refused);
      EXPECT_EQ(reported, write || refused || n == 0 ? 12345 : tag) << op;
      for (std::uint32_t i = 0; i < n && !write && !refused; ++i) ASSERT_EQ(buf[i], byteAt(got + i));
      (write ? sent : got) += refused ? 0 : n;
      EXPECT_EQ(ring.available(), sent - got) << op;
      EXPECT_EQ(ring.empty(), sent == got) << op;
    }
  }
}

// Random sizes, marks on random writes tagged with their position + 1: every byte arrives in
// order and every tag once, with the read that covers its mark or ends right before it. The
// large ring gives back the pages its reader passes while the writer fills the rest.
TEST(RingBuffer, TwoThreadsMoveEveryByteAndEveryTag) {
  for (std::uint32_t size : {4099u, RingBuffer::kKeepPagesUpTo + 4099u}) {
    RingBuffer ring(size);
    const std::uint64_t total = 3ull * size + 3000000;
    std::uint64_t marks = 0, reports = 0, wrong = 0;
    std::atomic<bool> refused{false};  // ends both sides at once
    std::thread writer([&] {
      std::mt19937 rng(1);
      std::vector<std::uint8_t> buf(std::min(size / 3, 300000u));
      for (std::uint64_t sent = 0, lastTag = 0; sent < total && !refused;) {
        const std::uint32_t n = std::uniform_int_distribution<std::uint32_t>(1, buf.size())(rng);
        if (ring.size() - ring.available() < n) { std::this_thread::yield(); continue; }
        // Only once the reader is past the last mark, so no mark replaces another.
        const bool mark = sent - ring.available() >= lastTag && rng() % 4 == 0;
        for (std::uint32_t i = 0; i < n; ++i) buf[i] = byteAt(sent + i);
        if (!ring.write(buf.data(), n, mark ? sent + 1 : 0)) return refused.store(true);
        if (mark) ++marks, lastTag = sent + 1;
        sent += n;
      }
    });
    std::mt19937 rng(2);
    std::vector<std::uint8_t> buf(size);
    for (std::uint64_t got = 0, tag = 0; got < total && !refused;) {
      if (ring.available() == 0) { std::this_thread::yield(); continue; }
      const auto n = std::uniform_int_distribution<std::uint32_t>(1, ring.available())(rng);
      if (!ring.read(buf.data(), n, &tag)) refused = true;
      for (std::uint32_t i = 0; i < n; ++i) wrong += buf[i] != byteAt(got + i);
      reports += tag != 0;
      EXPECT_TRUE(tag == 0 || (got < tag && tag <= got + n + 1)) << tag;  // the mark is at tag - 1
      got += n;
    }
    writer.join();
    EXPECT_FALSE(refused);
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(reports, marks);
    EXPECT_GT(marks, 3u);
  }
}

// A large ring gives back only whole pages: one it covers in part keeps its bytes.
TEST(Memory, WholePagesInsideARange) {
  const std::uintptr_t p = memoryPageBytes(), base = 16 * p;
  const std::uintptr_t rows[][4] = {{0, 2 * p, 0, 2 * p}, {1, 2 * p, p, 2 * p}, {1, p, p, p}, {0, p - 1, 0, 0}};
  for (const auto& r : rows) {
    const PageRange got = wholePagesInside(reinterpret_cast<const void*>(base + r[0]), r[1]);
    EXPECT_EQ(std::pair(got.first - base, got.last - base), std::pair(r[2], r[3])) << r[0] << " + " << r[1];
  }
}

}  // namespace
}  // namespace vorta
