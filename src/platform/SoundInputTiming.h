// The sound input's timing arithmetic: how much sound an overrun or a stall
// lost, and when a running input that gives no sound has stopped working.
// Pure: times come in as milliseconds of a monotonic clock, amounts as frames,
// so every rule can be tested without a device.
//
// Contract: each object belongs to the input's reading thread alone.
#pragma once

#include <cstdint>
#include <optional>

namespace vorta {

// What is known when the device reports an overrun.
struct OverrunFacts {
  // Milliseconds between the moment the device stopped (its trigger time
  // stamp) and now, when the driver gives both stamps.
  std::optional<std::int64_t> stalledMs;
  int bufferMs = 0;  // what the device's buffer holds, dropped by the recovery
  // Milliseconds since the last successful read; none before the first.
  std::optional<std::int64_t> sinceReadMs;
};

// About how much sound the overrun lost, at least 1 ms.
int overrunLostMs(const OverrunFacts& facts);

// Measures sound lost while the reading stood still (the process stopped or
// starved) without the device reporting an overrun: the pulse plugin never
// reports one; its server keeps what the stream could not take and drops the
// rest. A gap of more than kGapMs between two reads opens a measurement; once
// the reads have caught up with the device for kSettleMs it closes: what the
// device took in over that time and the reads did not get was lost. Counting
// frames against the monotonic clock only across the gap keeps the slow drift
// between the sound card's clock and the system's out of the figure.
class StallMeter {
 public:
  static constexpr std::int64_t kGapMs = 500;
  static constexpr std::int64_t kSettleMs = 1000;
  static constexpr std::int64_t kGiveUpMs = 30000;

  StallMeter(int samplesPerSecond, std::int64_t periodFrames)
      : rate_(samplesPerSecond), periodFrames_(periodFrames) {}

  // Forget the last read: the stream (re)starts, or a loss was reported by
  // other means.
  void restart();
  // After a read of `frames` at `nowMs`, with `waiting` frames still in the
  // device. Returns the milliseconds lost when a measurement closes with a
  // loss above its own error.
  std::optional<int> afterRead(std::int64_t nowMs, std::int64_t frames, std::int64_t waiting);
  // Milliseconds since the last read; none before the first.
  std::optional<std::int64_t> sinceRead(std::int64_t nowMs) const;

 private:
  std::int64_t toMs(std::int64_t frames) const { return frames * 1000 / rate_; }

  const int rate_;
  const std::int64_t periodFrames_;
  std::optional<std::int64_t> lastReadMs_;
  std::int64_t lastWaiting_ = 0;
  struct Measurement {
    std::int64_t fromMs = 0;    // the read before the gap
    std::int64_t gapEndMs = 0;  // the first read after it
    std::int64_t waitingAtStart = 0;
    std::int64_t framesRead = 0;
    std::optional<std::int64_t> caughtUpSinceMs;
  };
  std::optional<Measurement> open_;
};

// Tells when a running input has given no sound for `limitMs`. Time in which
// the reading thread itself did not run (more than kAbsentMs between two
// looks: the process was stopped or starved) is left out, so a stall of the
// program is never taken for a silent device.
class SilentInputWatch {
 public:
  static constexpr std::int64_t kAbsentMs = 1000;

  explicit SilentInputWatch(std::int64_t limitMs) : limitMs_(limitMs) {}

  // The stream starts: the count begins now.
  void restart(std::int64_t nowMs);
  // One look of the reading thread, which got `frames` since the last one.
  // True once the input has given no sound for the limit.
  bool silentTooLong(std::int64_t nowMs, std::int64_t frames);

 private:
  const std::int64_t limitMs_;
  std::int64_t lastLookMs_ = 0;
  std::int64_t silentMs_ = 0;
};

}  // namespace vorta
