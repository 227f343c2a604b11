// What the run has lost, counted where every message passes (say), so the
// closing line of a log always agrees with the messages the run printed:
// sound input overruns (a stall that costs sound is reported as one) with
// the sound they cost, working-buffer overflows, and the dead air of the
// closing summary.
//
// Threads: any thread that says something counts (the capture loop, the
// encoder thread); the main thread reads the sums once the others are done.
// Each count is an atomic of its own; relaxed, as nothing else is ordered by
// them and they are read after the threads that wrote them have ended.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "base/Messages.h"

namespace vorta {

struct Losses {
  std::uint32_t overruns = 0;
  std::uint64_t overrunMs = 0;  // about this much sound the overruns lost
  std::uint32_t bufferOverflows = 0;
  std::uint32_t deadAirSeconds = 0;  // in all, as the summary said it
  std::uint32_t deadAirTimes = 0;
};

// Called by vsay with the message's own arguments.
void countLoss(Msg id, va_list args);
Losses lossesSoFar();

}  // namespace vorta
