// Estimates the process's CPU usage (all threads together) as a share of
// elapsed wall-clock time, for the status line.
//
// The window grows from reading to reading; every fifth reading cuts it back
// to half a second that already holds the last figure, which smooths the
// value shown without starting again from nothing.
//
// Threads: only the thread that prints the status line (the capture loop's);
// the state is touched by no other thread and needs no lock. The clock may be
// read from any thread.
#pragma once

#include <cstdint>

namespace vorta {

class Clock;

class CpuMeter {
 public:
  explicit CpuMeter(Clock& clock) : clock_(clock) {}

  // Starts the first window at the current process CPU time and wall time.
  void start();
  // One reading: percent from 0 to 100 since the window start.
  double sample();

 private:
  // Half a second in 100 ns units: the window left after a re-basing.
  static constexpr std::int64_t kRebaseWindow = 5000000;
  // CPU units per percent of that half-second window.
  static constexpr double kUnitsPerPercent = 50000.0;
  static constexpr int kReadingsPerWindow = 5;

  Clock& clock_;
  std::int64_t cpuBase_ = 0;   // process CPU time at the window start, 100 ns
  std::int64_t wallBase_ = 0;  // wall time at the window start, 100 ns
  int sampleCount_ = 0;        // readings since the last re-basing
};

}  // namespace vorta
