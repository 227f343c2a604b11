// The sound inputs' shared policy, on every system (these run under wine too).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "StdRedirect.h"
#include "platform/BlockReader.h"
#include "platform/Process.h"
#include "platform/Terminal.h"

namespace vorta {
namespace {

using namespace std::chrono_literals;

struct ScriptedStream : BlockStream, SoundCallback {
  void begin() override { ++begins; }
  std::int64_t step(std::chrono::milliseconds) override {
    std::this_thread::sleep_for(1ms);
    ++steps;
    if (failNow.exchange(false))  // a second report of the same loss goes nowhere
      reader->lose({ErrorKind::DeviceGone, 5, "gone"}), reader->lose({ErrorKind::DeviceGone, 5, "again"});
    return 1;
  }
  void finish(SteadyTime) override { ++finishes; }
  Error silenceError() override { return {}; }
  void onBlock(const std::uint8_t*, std::uint32_t) override {}
  void onOverrun(int) override {}
  void onInputLost(const Error&) override { ++losses; }
  BlockReader* reader = nullptr;
  std::atomic<int> begins{0}, steps{0}, finishes{0}, losses{0};
  std::atomic<bool> failNow{false};
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

// A device that cannot be chosen or opened leaves nothing open behind it.
TEST(SystemSoundInput, AFailedOpenLeavesNoHandleOpen) {
  ScriptedStream s;
  const auto tryOpen = [&] {
    EXPECT_FALSE(makeSystemSoundInput("vorta-no-such-device")->open(SoundFormat{}, s).ok());
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
