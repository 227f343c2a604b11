#include "monitor/CpuMeter.h"

#include "platform/Clock.h"

namespace vorta {

void CpuMeter::start() {
  cpuBase_ = clock_.processCpuTime();
  wallBase_ = clock_.systemTime();
}

double CpuMeter::sample() {
  const std::int64_t now = clock_.systemTime();
  const std::int64_t cpuNow = clock_.processCpuTime();
  // Differences in 64-bit integers first: the absolute counts are far too
  // large for a double to subtract exactly.
  std::int64_t wallDelta = now - wallBase_;
  if (wallDelta == 0) wallDelta = 1;  // same clock tick: avoid dividing by 0
  const std::int64_t cpuDelta = cpuNow - cpuBase_;

  // The share is scaled by 101 and then capped at 100, so the figure leans
  // towards showing a processor as fully busy rather than as nearly so.
  double percent = static_cast<double>(cpuDelta) / static_cast<double>(wallDelta) * 101.0;
  if (percent > 100.0) {
    percent = 100.0;
  } else if (percent < 0.0) {
    percent = 0.0;  // the system clock was set back
  }

  if (++sampleCount_ >= kReadingsPerWindow) {
    sampleCount_ = 0;
    wallBase_ = now - kRebaseWindow;
    cpuBase_ = cpuNow - static_cast<std::int64_t>(percent * kUnitsPerPercent);
  }
  return percent;
}

}  // namespace vorta
