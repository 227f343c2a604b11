// The sound inputs' shared policy, on every system (these run under wine too).
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "Fakes.h"
#include "StdRedirect.h"
#include "platform/BlockReader.h"
#include "platform/Process.h"
#include "platform/Terminal.h"

namespace vorta {
namespace {

using namespace std::chrono_literals;

// Steps read one frame each, or follow a script of reads {ms, frames, frames
// still waiting}, each setting `clock` before the count the test waits on,
// then read nothing.
struct ScriptedStream : BlockStream, SoundCallback {
  void begin() override { ++begins, stopping = false; }
  std::int64_t step(std::chrono::milliseconds wait) override {
    if (stopping) {
      clock.steady += wait;
      if (clock.steady < stopAt + 60ms || tailHeard) return 0;
      tailHeard = true;
      return 1;
    }
    std::this_thread::sleep_for(1ms);
    ++steps;
    if (failNow.exchange(false))  // a second report of the same loss goes nowhere
      reader->lose({ErrorKind::DeviceGone, 5, "gone"}), reader->lose({ErrorKind::DeviceGone, 5, "again"});
    if (reads.empty()) return 1;
    if (readsDone == reads.size()) return 0;
    const auto& [ms, frames, waiting] = reads[readsDone];
    clock.steady = SteadyTime(std::chrono::milliseconds(ms));
    reader->afterRead(frames, waiting);
    ++readsDone;
    return frames;
  }
  // After a stop, each step waits out its time on the fake clock; the sound
  // played before the stop arrives 60 ms after it.
  std::chrono::milliseconds stopTail() const override {
    stopAt = clock.steady, stopping = true;
    return 150ms;
  }
  void finish() override { ++finishes; }
  Error silenceError() override { return {}; }
  void onBlock(const std::uint8_t*, std::uint32_t) override {}
  void onOverrun(std::chrono::milliseconds lost) override { lostSound.push_back(lost.count()); }
  void onInputLost(const Error&) override { ++losses; }
  BlockReader* reader = nullptr;
  std::atomic<int> begins{0}, steps{0}, finishes{0}, losses{0};
  std::atomic<bool> failNow{false};
  std::vector<std::array<std::int64_t, 3>> reads;
  std::atomic<std::size_t> readsDone{0};
  mutable FakeClock clock;
  mutable SteadyTime stopAt;                   // reading thread, from the stop on
  mutable bool stopping = false, tailHeard = false;
  std::vector<std::int64_t> lostSound;  // reading thread; read after stop()
};

// Each run reports its own loss once, and a lost input is not stepped until the stop.
TEST(BlockReader, EachRunReportsItsLossOnceAndALostInputWaitsForTheStop) {
  ScriptedStream s;
  {
    BlockReader reader(s, s);
    s.reader = &reader;
    for (int run = 1; run <= 2; ++run) {
      reader.run();
      s.failNow = true;
      for (int i = 0; i < 500 && s.losses < run; ++i) std::this_thread::sleep_for(10ms);
      const int steps = s.steps;
      std::this_thread::sleep_for(50ms);
      EXPECT_EQ(s.steps, steps) << run;
      EXPECT_TRUE(reader.stop());
      EXPECT_EQ(s.losses, run);
    }
    EXPECT_FALSE(reader.stop());
  }
  EXPECT_EQ(s.begins * 10 + s.finishes, 22);
}

// A stall's loss is reported once: when its reads have settled, or at the
// stop when they had not yet (48 kHz, 100 ms periods).
TEST(BlockReader, AStallIsReportedOnceEvenWhenTheStopComesBeforeItSettles) {
  const struct { std::vector<std::array<std::int64_t, 3>> reads; std::vector<std::int64_t> lost; } rows[] = {
      {{{1000, 4800, 0}, {1100, 4800, 0}}, {}},
      {{{1000, 4800, 0}, {4000, 48000, 0}, {4100, 4800, 0}}, {2000}},
      {{{1000, 4800, 0}, {4000, 48000, 0}, {4900, 43200, 0}, {5000, 4800, 0}, {5100, 4800, 0}}, {2000}}};
  for (const auto& row : rows) {
    ScriptedStream s;
    s.reads = row.reads;
    BlockReader reader(s, s, StallMeter(48000, 4800), s.clock);
    s.reader = &reader;
    reader.run();
    for (int i = 0; i < 500 && s.readsDone < row.reads.size(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(reader.stop());
    EXPECT_EQ(s.lostSound, row.lost) << &row - rows;
    EXPECT_TRUE(s.tailHeard) << "the sound played before the stop is read before the stream finishes";
  }
}

// A device that cannot be chosen or opened leaves nothing open behind it.
TEST(SystemSoundInput, AFailedOpenLeavesNoHandleOpen) {
  ScriptedStream s;
  const auto tryOpen = [&] {
    EXPECT_FALSE(makeSystemSoundInput("vorta-no-such-device", ThreadPriorities())->open(SoundFormat{}, s).ok());
  };
  tryOpen();  // the sound library's own first-use set-up
  const std::size_t before = openHandleCount();
  for (int i = 0; i < 20; ++i) tryOpen();
  EXPECT_EQ(openHandleCount(), before);
}

// The status line's raw write comes after what was printed before it, in a shared file.
TEST(Terminal, TheRawStderrWriteFollowsWhatStdoutHolds) {
  test::StdRedirect both("vorta-order.txt");
  std::fputs("printed ", stdout);
  writeRawStderr("status\r", 7);
  EXPECT_EQ(both.restore(), "printed status\r");
  std::remove("vorta-order.txt");
}

}  // namespace
}  // namespace vorta
