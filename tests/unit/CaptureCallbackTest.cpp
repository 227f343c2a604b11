// The capture callback: silence cutting, the split request, the stop.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "CaptureFakes.h"
#include "capture/CaptureCallback.h"
#include "base/RunState.h"
#include "base/Settings.h"
#include "base/RingBuffer.h"

namespace vorta {
namespace {

constexpr std::uint32_t kValues = 44100;  // half a second, 44.1 kHz stereo

// A buffer of 16-bit values, all `level` unless set otherwise.
struct Samples {
  explicit Samples(std::uint32_t count, std::int16_t level = 0) : values(count, level) {}
  Samples& loudRun(std::uint32_t from, std::int16_t level = 1000, std::uint32_t step = 1) {
    for (std::uint32_t i = 0; i < 10 * step; i += step) values[from + i] = level;
    return *this;
  }
  std::vector<std::int16_t> values;
};

struct Rig {
  explicit Rig(bool silence = true, int threshold = 103, std::uint32_t ringBytes = 1u << 22)
      : ring(ringBytes) {
    settings.silenceEnabled = silence;
    settings.silenceThreshold = threshold;
    settings.channelMode = ChannelMode::Stereo;
    run.captureBytesPerSecond.store(176400);
    callback = std::make_unique<CaptureCallback>(run, settings, ring);
    callback->onSound(SoundMessage::Open, nullptr);
  }

  // Delivers the buffer; returns how many bytes reached the ring.
  std::uint32_t feed(Samples& s) {
    CaptureBuffer buffer;
    buffer.data = reinterpret_cast<std::uint8_t*>(s.values.data());
    buffer.length = static_cast<std::uint32_t>(s.values.size() * 2);
    buffer.bytesRecorded = buffer.length;
    buffer.done.store(true);
    const std::uint32_t before = ring.available();
    callback->onSound(SoundMessage::Data, &buffer);
    return ring.available() - before;
  }
  std::int32_t silenceUs() const { return callback->trailingSilenceUs(); }

  KeptText text;
  Settings settings;
  RunState run;
  RingBuffer ring;
  std::unique_ptr<CaptureCallback> callback;
};

TEST(CaptureCallback, WorkedExampleKeepsTwoSecondsOfSilenceInWholeFramesThenDrops) {
  Rig rig;
  Samples sound(kValues);
  sound.loudRun(0).loudRun(44056);  // forward finds 0, backward finds M = 44056
  EXPECT_EQ(rig.feed(sound), 88200u);
  EXPECT_EQ(rig.silenceUs(), 487);

  Samples silence(kValues);
  EXPECT_EQ(rig.feed(silence), 88200u);
  EXPECT_EQ(rig.silenceUs(), 500487);
  EXPECT_EQ(rig.feed(silence), 88200u);
  EXPECT_EQ(rig.feed(silence), 88200u);
  EXPECT_EQ(rig.silenceUs(), 1500487);
  // 499,513 us are 88114 bytes: half a frame over 22028 frames, kept as 22028.
  EXPECT_EQ(rig.feed(silence), 88112u);
  EXPECT_EQ(rig.silenceUs(), 2000000);
  EXPECT_EQ(rig.feed(silence), 0u);
  EXPECT_EQ(rig.feed(silence), 0u);
  EXPECT_EQ(rig.ring.available() % 4, 0u);

  // Sound again: kept whole, and the count starts over from it.
  Samples loudEnd(kValues);
  loudEnd.loudRun(0).loudRun(44056);
  EXPECT_EQ(rig.feed(loudEnd), 88200u);
  EXPECT_EQ(rig.silenceUs(), 487);
}

TEST(CaptureCallback, ShortBuffersAndNonPositiveThresholdsAreKeptWhole) {
  Rig rig;
  Samples sound(kValues);
  sound.loudRun(0).loudRun(44056);
  rig.feed(sound);
  Samples shortOne(87);  // below 88 values: never cut, count untouched
  EXPECT_EQ(rig.feed(shortOne), 174u);
  EXPECT_EQ(rig.silenceUs(), 487);

  for (int threshold : {0, -5}) {
    Rig open(true, threshold);
    Samples silence(kValues);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(open.feed(silence), 88200u) << threshold;
  }
}

TEST(CaptureCallback, OnlyForwardPositionsDecideAndTheBackwardScanMeasures) {
  {
    // Loud only at position 0: sound, and the whole buffer counts as silence
    // after it (Q = -1).
    Rig rig;
    Samples s(kValues);
    s.loudRun(0);
    EXPECT_EQ(rig.feed(s), 88200u);
    EXPECT_EQ(rig.silenceUs(), 500000);
  }
  {
    // A loud run only the backward positions meet: judged silent.
    Rig rig;
    Samples s(kValues);
    s.loudRun(44056);
    EXPECT_EQ(rig.feed(s), 88200u);
    EXPECT_EQ(rig.silenceUs(), 500000);  // silence added, not 487
  }
  {
    // Loud left channel over a quiet right one: no position is loud.
    Rig rig;
    Samples s(kValues);
    for (std::uint32_t i = 0; i < kValues; i += 2) s.values[i] = -32768;
    rig.feed(s);
    EXPECT_EQ(rig.silenceUs(), 500000);
  }
  {
    // -32768 is loud (its absolute value is taken in 32 bits): after two
    // seconds of silence such a buffer is kept, not dropped.
    Rig rig;
    Samples silence(kValues);
    for (int i = 0; i < 4; ++i) rig.feed(silence);
    ASSERT_EQ(rig.feed(silence), 0u);
    Samples s(kValues);
    s.loudRun(0, -32768);
    EXPECT_EQ(rig.feed(s), 88200u);
  }
}

TEST(CaptureCallback, OpenAndCloseOpenAndCloseBothEvents) {
  Rig rig;
  EXPECT_TRUE(rig.run.captureEvent.isOpen());
  EXPECT_TRUE(rig.run.encoderEvent.isOpen());
  EXPECT_TRUE(rig.run.captureEvent.wait(0));  // created signalled
  rig.callback->onSound(SoundMessage::Close, nullptr);
  EXPECT_FALSE(rig.run.captureEvent.isOpen());
  EXPECT_FALSE(rig.run.encoderEvent.isOpen());
}

TEST(CaptureCallback, AfterTheStopBuffersChangeNothing) {
  Rig rig;
  rig.run.captureEvent.wait(0);
  rig.run.encoderEvent.wait(0);
  rig.run.captureStopped.fetch_add(1);
  rig.run.newFilePending.store(1);
  Samples sound(kValues);
  sound.loudRun(0);
  EXPECT_EQ(rig.feed(sound), 0u);
  EXPECT_EQ(rig.run.newFilePending.load(), 1u);
  EXPECT_EQ(rig.silenceUs(), 0);
  EXPECT_FALSE(rig.run.captureEvent.wait(0));
  EXPECT_FALSE(rig.run.encoderEvent.wait(0));
}

// Reads `before` bytes (no mark in them), then one more, which reaches the
// mark: the mark sits exactly at offset `before`.
void expectMarkAt(RingBuffer& ring, std::uint32_t before) {
  std::vector<std::uint8_t> sink(before + 1);
  std::uint64_t crossed = 1;
  if (before > 0) {
    ASSERT_EQ(ring.read(sink.data(), before - 1, &crossed), 0);
    EXPECT_FALSE(crossed);
  }
  ASSERT_EQ(ring.read(sink.data(), 1, &crossed), 0);
  EXPECT_TRUE(crossed);
}

TEST(CaptureCallback, SplitRequestWaitsForAWriteThatStoresBytes) {
  // Dropped silence: the request survives and marks the next kept buffer.
  Rig rig;
  Samples silence(kValues);
  std::uint32_t kept = 0;
  for (int i = 0; i < 4; ++i) kept += rig.feed(silence);
  ASSERT_EQ(rig.silenceUs(), 2000000);
  rig.run.newFilePending.store(1);
  EXPECT_EQ(rig.feed(silence), 0u);
  EXPECT_EQ(rig.run.newFilePending.load(), 1u);
  Samples sound(kValues);
  sound.loudRun(0);
  EXPECT_EQ(rig.feed(sound), 88200u);
  EXPECT_EQ(rig.run.newFilePending.load(), 0u);
  expectMarkAt(rig.ring, kept);
}

TEST(CaptureCallback, SplitRequestSurvivesARefusedWrite) {
  Rig rig(false, 103, 1000);
  Samples big(600);  // 1200 bytes: does not fit
  rig.run.newFilePending.store(1);
  rig.run.captureEvent.wait(0);
  EXPECT_EQ(rig.feed(big), 0u);
  EXPECT_EQ(rig.text.out, "\nError: buffer overflow\n");
  EXPECT_EQ(rig.run.newFilePending.load(), 1u);
  EXPECT_TRUE(rig.run.captureEvent.wait(0));  // events are set all the same
  Samples small(100);
  EXPECT_EQ(rig.feed(small), 200u);  // silence cutting off: written whole
  EXPECT_EQ(rig.run.newFilePending.load(), 0u);
  expectMarkAt(rig.ring, 0);
}

}  // namespace
}  // namespace vorta
