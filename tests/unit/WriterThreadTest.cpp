// The output thread's end: all it was handed is written, in order; a write
// that hangs holds the end only as long as allowed.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <memory>
#include <thread>

#include "app/WriterThread.h"

namespace vorta {
namespace {

using namespace std::chrono_literals;

TEST(WriterThread, FinishWritesAllInOrderOrGivesUpOnAHungWriteInTime) {
  const struct { bool hangs; std::chrono::milliseconds wait; bool giveUp, finished; } rows[] = {
      {false, 10ms, false, true}, {true, 300ms, false, false}, {true, 1h, true, false}};
  for (const auto& row : rows) {
    auto release = std::make_shared<std::atomic<bool>>(false);  // both outlive a write left behind
    auto written = std::make_shared<std::string>();
    std::deque<char> queue;
    const auto take = [&](bool) -> std::optional<WriterThread::Write> {
      if (queue.empty()) return std::nullopt;
      const char c = queue.front();
      queue.pop_front();
      return [=, hangs = row.hangs && c == 'c'] {
        while (hangs && !*release) std::this_thread::sleep_for(1ms);
        *written += c;
      };
    };
    WriterThread writer("vorta-test", {[&] { return !queue.empty(); }, take, std::nullopt});
    for (char c : std::string("abcd")) writer.update([&] { queue.push_back(c); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(writer.finish(row.wait, [&] { return row.giveUp; }), row.finished) << &row - rows;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << &row - rows;
    EXPECT_EQ(*written, row.hangs ? "ab" : "abcd") << &row - rows;
    *release = true;
  }
}

}  // namespace
}  // namespace vorta
