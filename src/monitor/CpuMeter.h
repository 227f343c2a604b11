// Estimates the process's CPU usage (all threads together) as a share of
// elapsed time (on the steady clock), for the status line.
//
// The window grows from reading to reading; every fifth reading cuts it back
// to half a second that already holds the last figure, which smooths the
// value shown without starting again from nothing.
//
// Threads: only the thread that prints the status line (the capture loop's);
// the state is touched by no other thread and needs no lock. The clock may be
// read from any thread.
#pragma once

#include <chrono>

#include "platform/Clock.h"

namespace vorta {

class CpuMeter {
 public:
  explicit CpuMeter(Clock& clock) : clock_(clock) {}

  // Starts the first window at the current process CPU time and steady time.
  void start();
  // One reading: percent from 0 to 100 since the window start.
  double sample();

 private:
  // The window left after a re-basing.
  static constexpr std::chrono::milliseconds kRebaseWindow{500};
  static constexpr int kReadingsPerWindow = 5;

  Clock& clock_;
  std::chrono::nanoseconds cpuBase_{0};  // process CPU time at the window start
  SteadyTime wallBase_;                  // steady time at the window start
  int sampleCount_ = 0;        // readings since the last re-basing
};

}  // namespace vorta
