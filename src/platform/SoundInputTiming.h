// The sound input's timing arithmetic: how much sound an overrun or a stall
// lost, and when a running input that gives no sound has stopped working.
// Pure: times come in as moments of the steady clock, amounts as frames, so
// every rule can be tested without a device.
//
// Contract: each object belongs to the input's reading thread alone.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "platform/Clock.h"

namespace vorta {

// What is known when the device reports an overrun.
struct OverrunFacts {
  // Between the moment the device stopped (its trigger time stamp) and now,
  // when the driver gives both stamps.
  std::optional<std::chrono::milliseconds> stalled;
  std::chrono::milliseconds buffer{0};  // what the device's buffer holds, dropped by the recovery
  // Since the last successful read; none before the first.
  std::optional<std::chrono::milliseconds> sinceRead;
};

// About how much sound the overrun lost, at least 1 ms.
std::chrono::milliseconds overrunLoss(const OverrunFacts& facts);

// Measures sound lost while the reading stood still (the process stopped or
// starved) without the device reporting an overrun: the pulse plugin never
// reports one; its server keeps what the stream could not take and drops the
// rest. A gap of more than kGap between two reads opens a measurement; once
// the reads have caught up with the device for kSettle it closes: what the
// device took in over that time and the reads did not get was lost. Counting
// frames against the steady clock only across the gap keeps the slow drift
// between the sound card's clock and the system's out of the figure.
class StallMeter {
 public:
  static constexpr std::chrono::milliseconds kGap{500};
  static constexpr std::chrono::milliseconds kSettle{1000};
  static constexpr std::chrono::milliseconds kGiveUp{30000};

  StallMeter(int samplesPerSecond, std::int64_t periodFrames)
      : rate_(samplesPerSecond), periodFrames_(periodFrames) {}

  // Forget the last read: the stream (re)starts, or a loss was reported by
  // other means.
  void restart();
  // After a read of `frames` at `now`, with `waiting` frames still in the
  // device. Returns what was lost when a measurement closes with a loss above
  // its own error.
  std::optional<std::chrono::milliseconds> afterRead(SteadyTime now, std::int64_t frames, std::int64_t waiting);
  // The stream stops after its last read: a measurement still open closes at
  // that read, caught up or not, so a stall just before a stop is not lost
  // from the count. Same figure and threshold as afterRead.
  std::optional<std::chrono::milliseconds> atStop();
  // Since the last read; none before the first.
  std::optional<std::chrono::milliseconds> sinceRead(SteadyTime now) const;

 private:
  std::chrono::milliseconds duration(std::int64_t frames) const { return std::chrono::milliseconds(frames * 1000 / rate_); }
  std::optional<std::chrono::milliseconds> close();

  const int rate_;
  const std::int64_t periodFrames_;
  std::optional<SteadyTime> lastRead_;
  std::int64_t lastWaiting_ = 0;
  struct Measurement {
    SteadyTime from;    // the read before the gap
    SteadyTime gapEnd;  // the first read after it
    std::int64_t waitingAtStart = 0;
    std::int64_t framesRead = 0;
    std::optional<SteadyTime> caughtUpSince;
  };
  std::optional<Measurement> open_;
};

// Tells when a running input has given no sound for `limit`. Time in which
// the reading thread itself did not run (more than kAbsent between two looks:
// the process was stopped or starved) is left out, so a stall of the program
// is never taken for a silent device.
class SilentInputWatch {
 public:
  static constexpr std::chrono::milliseconds kAbsent{1000};

  explicit SilentInputWatch(std::chrono::milliseconds limit) : limit_(limit) {}

  // The stream starts: the count begins now.
  void restart(SteadyTime now);
  // One look of the reading thread, which got `frames` since the last one.
  // True once the input has given no sound for the limit.
  bool silentTooLong(SteadyTime now, std::int64_t frames);

 private:
  const std::chrono::milliseconds limit_;
  SteadyTime lastLook_;
  std::chrono::steady_clock::duration silent_{0};
};

}  // namespace vorta
