// When the recorded sound was captured: the capture callback stamps the
// place in the PCM stream where a stretch of continuous sound begins (the
// start, the first sound after a silence cut or a loss) with the wall-clock
// time of its first sample, and the encoder turns the stamps into the time
// map of each file.
//
// Threads: push() only from the capture callback (the input's thread), pop()
// only from the encoder thread. No lock: the same single-writer,
// single-reader scheme as the PCM ring, on a small fixed array, so the
// callback never waits and never allocates.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

namespace vorta {

// Why a stretch of sound begins. Continued means none: the same stretch,
// its time corrected for the drift between the sound card's clock and the
// system's.
enum class SegmentReason { Start, Append, Silence, Overrun, Stall, Restart, Continued };

struct TimeStamp {
  std::uint64_t pcmByte = 0;  // position in the PCM stream (bytes ever written to the ring)
  std::int64_t epochMs = 0;   // wall clock, ms since 1970-01-01 UTC, of that byte's sample
  SegmentReason reason = SegmentReason::Continued;
};

class TimeStampQueue {
 public:
  // Stamps are few (a segment start, a drift correction every few minutes),
  // and the encoder takes them with each chunk: this many never wait at once
  // unless the encoder is minutes behind, and then a full queue drops the
  // stamp (see push).
  static constexpr std::uint32_t kCapacity = 1024;

  // False when the queue is full; nothing is stored.
  bool push(const TimeStamp& stamp);
  // The oldest stamp if it lies before `pcmByteLimit`.
  std::optional<TimeStamp> popBefore(std::uint64_t pcmByteLimit);

 private:
  std::array<TimeStamp, kCapacity> stamps_{};
  // Counts of stamps ever pushed and popped. pushed_: stored by the writer
  // with release after the stamp is copied in, loaded by the reader with
  // acquire before it copies it out; popped_: the other way round, so a
  // slot is reused only after it has been read.
  alignas(64) std::atomic<std::uint64_t> pushed_{0};
  alignas(64) std::atomic<std::uint64_t> popped_{0};
};

}  // namespace vorta
