// The sound input's timing rules: overruns, stalls, a silent device.
#include <gtest/gtest.h>

#include <vector>

#include "platform/SoundInputTiming.h"

namespace vorta {
namespace {

TEST(SoundInputTiming, OverrunLoss) {
  const struct { std::optional<std::int64_t> stalled; int buffer; std::optional<std::int64_t> since; int lost; } rows[] = {
      {300, 800, 50, 1100},     // the device's stamps, plus its buffer
      {-5, 800, 400, 400},      // stamps that make no sense: since the last read
      {86400000, 800, 400, 400},
      {{}, 800, {}, 800},       // no read yet: the buffer
      {{}, 0, {}, 1},           // never 0: a loss was seen
      {{}, 800, 0, 1}};
  for (const auto& row : rows)
    EXPECT_EQ(overrunLostMs(OverrunFacts{row.stalled, row.buffer, row.since}), row.lost) << &row - rows;
}

struct Read { std::int64_t now, frames, waiting; };

TEST(SoundInputTiming, StallLossIsWhatTheDeviceTookInLessWhatWasRead) {
  // 48 kHz, 100 ms periods; the last read before the gap is at 1000 ms.
  const struct { std::vector<Read> reads; std::optional<int> lost; } rows[] = {
      {{{1100, 4800, 0}, {1200, 4800, 0}}, {}},                          // no gap
      {{{4000, 144000, 0}, {4900, 43200, 0}, {5000, 4800, 0}}, {}},      // the server kept it all
      {{{4000, 48000, 0}, {4900, 43200, 0}, {5000, 4800, 0}}, 2000},     // it kept one second of three
      {{{4000, 48000, 96000}, {4900, 43200, 96000}, {5000, 4800, 0}}, {}},  // still catching up
      {{{1800, 28800, 0}, {2800, 48000, 0}}, {}},                        // 200 ms lost: below the noise
      {{{4000, 48000, 9600}, {34100, 100, 0}, {34200, 4800, 0}, {35100, 4800, 0}}, {}}};  // gave up
  for (const auto& row : rows) {
    StallMeter meter(48000, 4800);
    ASSERT_FALSE(meter.afterRead(1000, 4800, 0));
    std::optional<int> lost;
    for (const Read& r : row.reads) {
      EXPECT_FALSE(lost) << "reported before the end, row " << &row - rows;
      lost = meter.afterRead(r.now, r.frames, r.waiting);
    }
    EXPECT_EQ(lost, row.lost) << &row - rows;
  }
}

TEST(SoundInputTiming, SilentInputIsNoticedAfterTenSecondsOfItsOwnNotOfAStalledProgram) {
  // Looks every 100 ms from 0 (none in the absence), sound at the given
  // moments: when the input counts as stopped.
  const struct { std::int64_t soundAt, absentFrom, absentTo, stoppedAt; } rows[] = {
      {-1, -1, -1, 10000}, {5000, -1, -1, 15000}, {-1, 5000, 8000, 13000}, {-1, 5000, 5900, 10000}};
  for (const auto& row : rows) {
    SilentInputWatch watch(10000);
    watch.restart(0);
    std::int64_t stoppedAt = -1;
    for (std::int64_t t = 100; t <= 30000 && stoppedAt < 0; t += 100) {
      if (t > row.absentFrom && t < row.absentTo) continue;
      if (watch.silentTooLong(t, t == row.soundAt ? 480 : 0)) stoppedAt = t;
    }
    EXPECT_EQ(stoppedAt, row.stoppedAt) << &row - rows;
  }
}

}  // namespace
}  // namespace vorta
