// The sound input's timing rules: overruns, stalls, a silent device.
#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "platform/SoundInputTiming.h"

namespace vorta {
namespace {

using namespace std::chrono_literals;
using ms = std::chrono::milliseconds;

SteadyTime at(std::int64_t msSinceStart) { return SteadyTime(ms(msSinceStart)); }

TEST(SoundInputTiming, OverrunLoss) {
  // The device's stamps plus its buffer; stamps that make no sense: the time
  // since the last read; no read yet: the buffer; never 0.
  const struct { OverrunFacts facts; ms lost; } rows[] = {
      {{300ms, 800ms, 50ms}, 1100ms}, {{-5ms, 800ms, 400ms}, 400ms}, {{24h, 800ms, 400ms}, 400ms},
      {{{}, 800ms, {}}, 800ms},       {{{}, 0ms, {}}, 1ms},          {{{}, 800ms, 0ms}, 1ms}};
  for (const auto& row : rows) EXPECT_EQ(overrunLoss(row.facts), row.lost) << &row - rows;
}

TEST(SoundInputTiming, StallLossIsWhatTheDeviceTookInLessWhatWasRead) {
  // 48 kHz, 100 ms periods, a read at 1000 ms; then reads {ms, frames, frames
  // still waiting}, the loss reported at the last of them, and what a stop
  // right after it reports.
  using Loss = std::optional<ms>;
  const struct { std::vector<std::array<std::int64_t, 3>> reads; Loss lost, atStop; } rows[] = {
      {{{1100, 4800, 0}, {1200, 4800, 0}}, {}, {}},                                 // no gap
      {{{4000, 144000, 0}, {4900, 43200, 0}, {5000, 4800, 0}}, {}, {}},             // the server kept it all
      {{{4000, 48000, 0}, {4900, 43200, 0}, {5000, 4800, 0}}, 2000ms, {}},          // one second of three
      {{{4000, 48000, 0}, {4900, 43200, 0}}, {}, 2000ms},                           // stopped while settling
      {{{4000, 48000, 96000}, {4900, 43200, 96000}, {5000, 4800, 0}}, {}, 2000ms},  // still catching up
      {{{1800, 28800, 0}, {2800, 48000, 0}}, {}, {}},                               // 200 ms: noise
      {{{4000, 48000, 9600}, {34100, 100, 0}, {34200, 4800, 0}, {35100, 4800, 0}}, {}, 800ms}};  // gave up; a new gap
  for (const auto& row : rows) {
    StallMeter meter(48000, 4800);
    Loss lost = meter.afterRead(at(1000), 4800, 0);
    for (const auto& r : row.reads) {
      EXPECT_FALSE(lost) << "reported early, row " << &row - rows;
      lost = meter.afterRead(at(r[0]), r[1], r[2]);
    }
    EXPECT_EQ(std::pair(lost, meter.atStop()), std::pair(row.lost, row.atStop)) << &row - rows;
  }
}

TEST(SoundInputTiming, SilentInputIsNoticedAfterTenSecondsOfItsOwnNotOfAStalledProgram) {
  // Looks every 100 ms, none while the program is stopped, sound at one
  // moment: when the input counts as stopped.
  const struct { std::int64_t soundAt, absentFrom, absentTo, stoppedAt; } rows[] = {
      {-1, -1, -1, 10000}, {5000, -1, -1, 15000}, {-1, 5000, 8000, 13000}, {-1, 5000, 5900, 10000}};
  for (const auto& row : rows) {
    SilentInputWatch watch(10s);
    watch.restart(at(0));
    std::int64_t t = 100;
    for (; t <= 30000; t += 100) {
      if (t > row.absentFrom && t < row.absentTo) continue;
      if (watch.silentTooLong(at(t), t == row.soundAt ? 480 : 0)) break;
    }
    EXPECT_EQ(t, row.stoppedAt) << &row - rows;
  }
}

}  // namespace
}  // namespace vorta
