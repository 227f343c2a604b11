// The capture callback: the silence cut, the split request, the stop, the meter.
#include <gtest/gtest.h>

#include "Fakes.h"
#include "base/RingBuffer.h"
#include "base/RunState.h"
#include "base/Settings.h"
#include "capture/CaptureCallback.h"
#include "capture/InputLevel.h"

namespace vorta {
namespace {

// Half a second at 44.1 kHz stereo (or `values` long) of silence, ten `loud` values (every `step`-th) at each start.
std::vector<std::int16_t> block(std::vector<std::uint32_t> loudAt = {}, std::int16_t loud = 1000,
                                std::uint32_t step = 1, std::uint32_t values = 44100) {
  std::vector<std::int16_t> v(values, 0);
  for (std::uint32_t from : loudAt)
    for (std::uint32_t i = 0; i < 10 * step; i += step) v[from + i] = loud;
  return v;
}

struct Rig {  // threshold 1: silence cutting off
  explicit Rig(int threshold = 103, std::uint32_t ringBytes = 1u << 22, int deadAir = 0)
      : settings{[&] { Settings s; s.silenceEnabled = threshold != 1, s.silenceThreshold = threshold;
                       s.deadAirMs = deadAir * 60000, s.meter = deadAir != 0; return s; }()}, ring(ringBytes) {
    run.encoderEvent.open();
  }
  std::uint32_t feed(const std::vector<std::int16_t>& v) {  // the bytes that reached the ring
    const std::uint32_t before = ring.available();
    callback.onBlock(reinterpret_cast<const std::uint8_t*>(v.data()), std::uint32_t(v.size() * 2));
    return ring.available() - before;
  }
  std::uint64_t markAt(std::uint32_t at) {
    std::vector<std::uint8_t> sink(at + 1);  // a read up to `at` reports the tag, one short of it does not
    std::uint64_t early = 0, tag = 0;
    if (at > 1) static_cast<void>(ring.read(sink.data(), at - 1, &early));
    return ring.read(sink.data(), 1, &tag) && early == 0 ? tag : 0;
  }
  Settings settings;
  RunState run;
  RingBuffer ring;
  CaptureCallback callback{run, settings, ring};
};

TEST(CaptureCallback, KeepsTwoSecondsOfSilenceAfterSoundInWholeFramesThenDrops) {
  Rig rig;
  const auto sound = block({0, 44056}), silence = block();  // loud at 0 and at M = 44056
  const struct { const std::vector<std::int16_t>& block; std::uint32_t kept; std::int32_t us; } rows[] = {
      {sound, 88200, 487}, {silence, 88200, 500487}, {silence, 88200, 1000487}, {silence, 88200, 1500487},
      {silence, 88112, 2000000},  // 499,513 us are 88114 bytes: cut to whole frames
      {silence, 0, 2000000}, {sound, 88200, 487}};
  for (const auto& row : rows) {
    EXPECT_EQ(rig.feed(row.block), row.kept) << &row - rows;
    EXPECT_EQ(rig.callback.trailingSilenceUs(), row.us) << &row - rows;
  }
}

TEST(CaptureCallback, WhatCountsAsSoundAfterTwoSecondsOfSilence) {
  const struct { std::vector<std::int16_t> block; int threshold; bool kept; std::int32_t us; } rows[] = {
      {block({0}), 103, true, 500000},             // loud at 0 only: all of it trailing silence
      {block({44056}), 103, false, 2000000},       // only the backward scan would meet it
      {block({0}, -32768), 103, true, 500000},     // -32768 is loud
      {block({0}, 1000, 2), 103, false, 2000000},  // a loud left channel over a quiet right
      {block({}, 0, 1, 87), 103, true, 2000000},   // under 88 values: kept, count untouched
      {block(), 0, true, 487}, {block(), 1, true, 0}};  // threshold 0 or cutting off: nothing cut
  for (const auto& row : rows) {
    Rig rig(row.threshold);
    for (int i = 0; i < 4; ++i) rig.feed(block());
    EXPECT_EQ(rig.feed(row.block) > 0, row.kept) << &row - rows;
    EXPECT_EQ(rig.callback.trailingSilenceUs(), row.us) << &row - rows;
  }
}

TEST(CaptureCallback, SplitRequestMarksTheFirstWriteThatStoresBytesAndNothingAfterTheStop) {
  Rig rig, full(1, 1000);
  for (int i = 0; i < 4; ++i) rig.feed(block());  // 2 s of silence kept: 352800 bytes
  rig.run.splitRequest.store(5000);
  EXPECT_TRUE(rig.feed(block()) == 0 && rig.run.splitRequest.load() == 5000);  // dropped: the request waits
  EXPECT_TRUE(rig.feed(block({0})) == 88200 && rig.run.splitRequest.load() == 0);
  EXPECT_EQ(rig.markAt(352800), 5000u);
  full.run.splitRequest.store(6000);
  full.run.encoderEvent.wait({});  // opened signalled
  EXPECT_TRUE(full.feed(block({}, 0, 1, 600)) == 0 && full.run.splitRequest.load() == 6000);  // refused: waits too
  EXPECT_EQ(full.callback.bufferOverflows(), 1u);  // counted for the capture loop to report
  EXPECT_TRUE(full.run.encoderEvent.wait({}));  // woken all the same
  EXPECT_TRUE(full.feed(block({}, 0, 1, 100)) == 200 && full.markAt(0) == 6000 && full.run.encoderEvent.wait({}));
  full.run.captureStopped.store(1), full.run.splitRequest.store(7000);
  EXPECT_TRUE(full.feed(block({}, 0, 1, 100)) == 0 && full.run.splitRequest.load() == 7000);
  EXPECT_FALSE(full.run.encoderEvent.wait({}));
}

TEST(InputLevel, PeakOfEachChannelAndSamplesAtFullScale) {  // a part of a frame is not read
  const struct { std::vector<std::int16_t> v; int channels; std::int32_t left, right; std::uint32_t clipped; } rows[] = {
      {{5, -7, -3, 2}, 2, 5, 7, 0}, {{5, -7, -3, 2}, 1, 7, 0, 0}, {{1, 2, 300}, 2, 1, 2, 0},
      {{-32768, 32767, 32766, -32767}, 2, 32768, 32767, 3}};
  for (const auto& r : rows) {
    const BlockLevel l = measureLevel(reinterpret_cast<const std::uint8_t*>(r.v.data()), std::uint32_t(r.v.size() * 2), r.channels);
    EXPECT_EQ(std::make_tuple(l.peak[0], l.peak[1], l.clipped), std::make_tuple(r.left, r.right, r.clipped)) << &r - rows;
  }
}

// Half-second blocks, a minute of dead air at the silence threshold (103); peaks of whole seconds.
TEST(CaptureCallback, DeadAirAndTheMeterOfSuccessiveBlocks) {
  Rig rig(103, 1u << 22, 1);
  const struct { std::vector<std::int16_t> block; int times; std::uint32_t begun, ended; std::int64_t lastMs, totalMs; std::int32_t left, right; std::uint64_t clipped; } rows[] = {
      {block({0}, 102), 119, 0, 0, 0, 0, 102, 102, 0},  // 59.5 s below 103
      {block(), 1, 1, 0, 0, 60000, 102, 102, 0},        // a minute: dead air
      {block({0}, 103), 1, 1, 1, 60000, 60000, 102, 102, 0},
      {block({0}, -32768, 2), 2, 1, 1, 60000, 60000, 32768, 103, 20},
      {block(), 120, 2, 1, 60000, 120000, 0, 0, 20}};  // one under way counts in the total
  for (const auto& r : rows) {
    for (int i = 0; i < r.times; ++i) rig.feed(r.block);
    EXPECT_EQ(std::make_tuple(rig.callback.deadAirBegun(), rig.callback.deadAirEnded(), rig.callback.lastDeadAirMs(),
                              rig.callback.deadAirTotalMs()), std::make_tuple(r.begun, r.ended, r.lastMs, r.totalMs)) << &r - rows;
    EXPECT_EQ(std::make_tuple(rig.run.peakLeft.load(), rig.run.peakRight.load(), rig.run.clippedSamples.load()),
              std::make_tuple(r.left, r.right, r.clipped)) << &r - rows;
  }
}

}  // namespace
}  // namespace vorta
