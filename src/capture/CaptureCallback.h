// What the sound input hands over, taken on the input's thread: every block
// goes into the PCM ring, with long silences cut out when silence cutting is
// on and with the split mark when the capture loop has asked for one; the
// trouble the input reports and the blocks the full ring refused are kept for
// the capture loop, which reports them.
//
// Threads: onBlock, onOverrun and onInputLost run on the input's thread, one
// at a time (the input's contract), so the silence cut needs no lock.
// takeOverrunMs and lostReason run on the main thread. What the callback
// shares with other threads lives in RunState (atomics, see there), in the
// ring (its own exclusion) and in the trouble fields below.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "base/TimeStamps.h"
#include "capture/InputLevel.h"
#include "capture/SegmentStamper.h"
#include "capture/SilenceCut.h"
#include "platform/SoundInput.h"

namespace vorta {

struct RunState;
struct Settings;
class Clock;
class RingBuffer;

class CaptureCallback final : public SoundCallback {
 public:
  // clock: the wall clock that stamps the time map's segments (with
  // settings.timeMap; none is read otherwise).
  CaptureCallback(RunState& run, const Settings& settings, RingBuffer& pcmRing,
                  Clock* clock = nullptr);

  void onBlock(const std::uint8_t* data, std::uint32_t bytes) override;
  void onOverrun(std::chrono::milliseconds lost) override;
  void onStall(std::chrono::milliseconds lost) override;
  void onRestarted() override;
  void onInputLost(const Error& why) override;

  // Main thread: the sound lost in overruns since the last call, if any.
  std::optional<int> takeOverrunMs();
  // Main thread: the system's text once the input has stopped working.
  std::optional<std::string> lostReason();

  std::int32_t trailingSilenceUs() const { return cut_.trailingSilenceUs(); }
  // Any thread: the blocks the full ring refused so far.
  std::uint32_t bufferOverflows() const { return overflows_.load(std::memory_order_relaxed); }
  // Any thread: the blocks handed over so far (whether sound flows).
  std::uint64_t blocksTaken() const { return blocks_.load(std::memory_order_relaxed); }

  // Main thread: how many stretches of dead air have begun and ended so far,
  // and how long (ms) the last one that ended lasted.
  std::uint32_t deadAirBegun() const { return deadAirBegun_.load(std::memory_order_relaxed); }
  std::uint32_t deadAirEnded() const { return deadAirEnded_.load(std::memory_order_acquire); }
  std::int64_t lastDeadAirMs() const { return lastDeadAirMs_.load(std::memory_order_relaxed); }
  // Main thread, once the input is closed (its thread has ended): the whole
  // time of dead air, a stretch still under way included.
  std::int64_t deadAirTotalMs() const;

 private:
  RunState& run_;
  RingBuffer& pcmRing_;
  const bool silenceEnabled_;
  SilenceCut cut_;  // input thread only
  // Counted by the input thread, read by the capture loop; relaxed: it is a
  // sign of life, nothing is read on the strength of it.
  std::atomic<std::uint64_t> blocks_{0};
  // Counted by the input thread, reported by the capture loop; relaxed: a
  // count that stands alone.
  std::atomic<std::uint32_t> overflows_{0};

  void measure(const std::uint8_t* data, std::uint32_t bytes);
  void stamp(std::uint32_t bytes, std::uint32_t stored);
  void countLoss(std::chrono::milliseconds lost);

  // The time map's stamps, input thread only; the queue passes them to the
  // encoder (see TimeStamps.h). Empty without a time map.
  Clock* clock_;
  std::optional<SegmentStamper> stamper_;
  std::int64_t framesToMs(std::int64_t frames) const { return frames * 1000 / sampleRate_; }

  // The level, input thread only (see RunState for what it publishes).
  const bool meter_;
  const int channels_;
  const std::int64_t sampleRate_;
  const std::int32_t quietBelow_;
  std::int32_t windowPeak_[2] = {0, 0};
  std::int64_t windowFrames_ = 0;
  std::uint64_t clipped_ = 0;
  std::optional<DeadAirWatch> deadAir_;
  std::int64_t endedDeadAirMs_ = 0;
  // The duration first, then the count with release: the capture loop that
  // sees a new end (acquire) also sees its duration. Begun stands alone:
  // relaxed.
  std::atomic<std::uint32_t> deadAirBegun_{0};
  std::atomic<std::uint32_t> deadAirEnded_{0};
  std::atomic<std::int64_t> lastDeadAirMs_{0};

  // Milliseconds first, then the count with release: a taker that sees the
  // count (acquire) also sees the milliseconds that came with it.
  std::atomic<int> overruns_{0};
  std::atomic<int> lostMs_{0};
  // The loss and its text, set once by the input thread, read by the main
  // thread: a string, so under the mutex.
  std::mutex lostMutex_;
  std::optional<std::string> lostReason_;
};

}  // namespace vorta
