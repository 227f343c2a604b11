// Watches the clock that names the files and tells the hours: whether the
// system keeps it in step (at the start and once an hour), and a wall clock
// stepped by more than two seconds while recording.
//
// Main thread: the capture loop calls pass() on each of its wake-ups; the
// watch owns its last readings. It only posts events, once each: an unsynchronised
// clock is warned of when it is found so (again only after it was seen in
// step), a step is logged with its size and direction. The steady clock does
// not count a machine's sleep, so waking from one reads as a step forward.
#pragma once

#include <functional>

#include "base/Reporter.h"
#include "platform/Clock.h"
#include "platform/ClockHealth.h"

namespace vorta {

class ClockWatch {
 public:
  ClockWatch(Clock& clock, std::function<ClockSync()> sync, const Reporter& reporter);
  void pass();

 private:
  void checkSync(SteadyTime steadyNow);
  void checkStep(WallMilliseconds wallNow, SteadyTime steadyNow);

  Clock& clock_;
  std::function<ClockSync()> sync_;
  const Reporter& reporter_;
  bool started_ = false;
  bool warned_ = false;             // the clock was reported unsynchronised
  SteadyTime nextSyncCheck_{};
  WallMilliseconds lastWall_{};
  SteadyTime lastSteady_{};
};

}  // namespace vorta
