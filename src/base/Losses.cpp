#include "base/Losses.h"

#include <atomic>

namespace vorta {
namespace {

std::atomic<std::uint32_t> gOverruns{0};
std::atomic<std::uint64_t> gOverrunMs{0};
std::atomic<std::uint32_t> gBufferOverflows{0};
std::atomic<std::uint32_t> gDeadAirSeconds{0};
std::atomic<std::uint32_t> gDeadAirTimes{0};

}  // namespace

void countLoss(Msg id, va_list args) {
  if (id == Msg::Overrun) {
    va_list copy;
    va_copy(copy, args);
    const int ms = va_arg(copy, int);  // the message's %d
    va_end(copy);
    gOverrunMs.fetch_add(ms > 0 ? static_cast<std::uint64_t>(ms) : 0, std::memory_order_relaxed);
    gOverruns.fetch_add(1, std::memory_order_relaxed);
  } else if (id == Msg::RingOverflow) {
    gBufferOverflows.fetch_add(1, std::memory_order_relaxed);
  } else if (id == Msg::DeadAirSummary) {
    va_list copy;
    va_copy(copy, args);
    const int hours = va_arg(copy, int), minutes = va_arg(copy, int), seconds = va_arg(copy, int);
    gDeadAirTimes.store(va_arg(copy, unsigned), std::memory_order_relaxed);
    va_end(copy);
    gDeadAirSeconds.store(static_cast<std::uint32_t>(hours * 3600 + minutes * 60 + seconds),
                          std::memory_order_relaxed);
  }
}

Losses lossesSoFar() {
  Losses losses;
  losses.overruns = gOverruns.load(std::memory_order_relaxed);
  losses.overrunMs = gOverrunMs.load(std::memory_order_relaxed);
  losses.bufferOverflows = gBufferOverflows.load(std::memory_order_relaxed);
  losses.deadAirSeconds = gDeadAirSeconds.load(std::memory_order_relaxed);
  losses.deadAirTimes = gDeadAirTimes.load(std::memory_order_relaxed);
  return losses;
}

}  // namespace vorta
