#include "monitor/CpuMeter.h"

#include "platform/Clock.h"

namespace vorta {

void CpuMeter::start() {
  cpuBase_ = clock_.processCpuTime();
  wallBase_ = clock_.steadyNow();
}

double CpuMeter::sample() {
  const SteadyTime now = clock_.steadyNow();
  const std::chrono::nanoseconds cpuNow = clock_.processCpuTime();
  // Differences in 64-bit integers first: the absolute counts are far too
  // large for a double to subtract exactly. The steady clock never goes back.
  std::chrono::nanoseconds wallDelta = now - wallBase_;
  if (wallDelta.count() <= 0) wallDelta = std::chrono::nanoseconds(1);  // same tick: no division by 0
  const std::chrono::nanoseconds cpuDelta = cpuNow - cpuBase_;

  // The share is scaled by 101 and then capped at 100, so the figure leans
  // towards showing a processor as fully busy rather than as nearly so.
  double percent =
      static_cast<double>(cpuDelta.count()) / static_cast<double>(wallDelta.count()) * 101.0;
  if (percent > 100.0) percent = 100.0;

  if (++sampleCount_ >= kReadingsPerWindow) {
    sampleCount_ = 0;
    wallBase_ = now - kRebaseWindow;
    cpuBase_ = cpuNow - std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::duration<double, std::nano>(kRebaseWindow) * percent / 100.0);
  }
  return percent;
}

}  // namespace vorta
