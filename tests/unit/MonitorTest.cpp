// The CPU meter and the status line, down to the bytes written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CaptureFakes.h"
#include "base/Messages.h"
#include "base/RunState.h"
#include "base/RingBuffer.h"
#include "monitor/CpuMeter.h"
#include "monitor/StatusLine.h"

namespace vorta {
namespace {

constexpr std::int64_t kSecond = 10000000;  // 100 ns units

TEST(CpuMeter, SameTickReadsZeroOrFullAndABusyProcessorIsCapped) {
  FakeClock clock;
  clock.wall = 123 * kSecond;
  CpuMeter idle(clock);
  idle.start();
  EXPECT_EQ(idle.sample(), 0.0);  // no time passed, no CPU charged

  CpuMeter charged(clock);
  charged.start();
  clock.cpu += 1;  // one unit of CPU within the same clock tick
  EXPECT_EQ(charged.sample(), 100.0);

  CpuMeter busy(clock);
  busy.start();
  clock.wall += 3 * kSecond;
  clock.cpu += 3 * kSecond;  // 1 x 101 = 101
  EXPECT_EQ(busy.sample(), 100.0);

  CpuMeter back(clock);
  back.start();
  clock.wall -= kSecond;  // the clock was set back
  clock.cpu += kSecond;
  EXPECT_EQ(back.sample(), 0.0);
}

TEST(CpuMeter, FifthReadingReBasesToHalfASecondCarryingTheLastFigure) {
  FakeClock clock;
  CpuMeter meter(clock);
  meter.start();
  for (int k = 1; k <= 5; ++k) {
    clock.wall = k * kSecond;
    clock.cpu = k * kSecond / 4;  // a quarter of one processor
    EXPECT_DOUBLE_EQ(meter.sample(), 25.25) << "reading " << k;
  }
  // The sixth covers the half second left by the fifth (holding 25.25 x
  // 50000 units) plus one fully busy second after it.
  clock.wall = 6 * kSecond;
  clock.cpu = 5 * kSecond / 4 + kSecond;
  EXPECT_NEAR(meter.sample(), (1262500.0 + 10000000.0) / 15000000.0 * 101.0, 1e-9);
  // Still in that window: an idle second brings the figure down.
  clock.wall = 7 * kSecond;
  EXPECT_NEAR(meter.sample(), (1262500.0 + 10000000.0) / 25000000.0 * 101.0, 1e-9);
}

struct StatusRig {
  explicit StatusRig(std::uint32_t ringBytes = 1000) : ring(ringBytes) {
    line = std::make_unique<StatusLine>(run, ring, clock, [this](const char* b, std::size_t n) {
      written.emplace_back(b, n);
    });
    line->prepare();
  }
  void fill(std::uint32_t bytes) {
    std::vector<std::uint8_t> data(bytes);
    ASSERT_EQ(ring.write(data.data(), bytes), 0);
  }
  std::string print() {
    line->print();
    return written.empty() ? std::string() : written.back();
  }

  KeptText text;
  FakeClock clock;
  RunState run;
  RingBuffer ring;
  std::unique_ptr<StatusLine> line;
  std::vector<std::string> written;
};

TEST(StatusLine, FiguresAreTruncatedAndHoursRunPast24) {
  StatusRig rig;
  rig.run.bytesWritten.store(1535);    // 1.499 kbytes
  rig.run.encodedSeconds.store(90061.9);
  EXPECT_EQ(rig.print(), "Record: 1.4 kbytes (25:01:01), buffer free: 100.0%, CPU usage: 0.0%    \r");

  rig.run.bytesWritten.store(16384);
  rig.run.encodedSeconds.store(1.0);
  rig.fill(2);  // 99.8 % free
  EXPECT_EQ(rig.print(), "Record: 16.0 kbytes (0:00:01), buffer free: 99.8%, CPU usage: 0.0%    \r");

  rig.fill(998);
  EXPECT_EQ(rig.print(), "Record: 16.0 kbytes (0:00:01), buffer free: 0.0%, CPU usage: 0.0%    \r");
  EXPECT_EQ(rig.written.size(), 3u);
  EXPECT_TRUE(rig.text.err.empty());  // written raw, not through the catalogue
}

TEST(StatusLine, ShowsTheCpuFigureInBothLanguages) {
  {
    StatusRig rig;
    rig.clock.wall = kSecond;
    rig.clock.cpu = kSecond / 4;  // 25.25 %
    EXPECT_EQ(rig.print(),
              "Record: 0.0 kbytes (0:00:00), buffer free: 100.0%, CPU usage: 25.2%    \r");
  }
  selectLanguage(Language::Russian);
  {
    StatusRig rig;
    rig.run.bytesWritten.store(1535);
    rig.run.encodedSeconds.store(90061);
    rig.clock.wall = kSecond;
    EXPECT_EQ(rig.print(),
              "Записано: 1.4 кб (25:01:01), буфер: 100.0%, использование CPU: 0.0%    \r");
    // The longest line the values allow still ends with its carriage return.
    rig.run.bytesWritten.store(~std::uint64_t{0});
    rig.run.encodedSeconds.store(4.0e12);
    rig.clock.cpu = 5 * kSecond;
    const std::string longest = rig.print();
    EXPECT_EQ(longest.back(), '\r');
    EXPECT_LT(longest.size(), StatusLine::kLineBytes);
  }
  selectLanguage(Language::English);
}

}  // namespace
}  // namespace vorta
