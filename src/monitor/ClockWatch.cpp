#include "monitor/ClockWatch.h"

#include <utility>


namespace vorta {
namespace {

using std::chrono::milliseconds;

constexpr auto kSyncCheckEvery = std::chrono::hours(1);
// Less is the ordinary jitter of two clocks read one after the other and of
// a time daemon's slewing; more is a clock that was set.
constexpr milliseconds kStepLimit = std::chrono::seconds(2);

double seconds(milliseconds span) { return double(span.count()) / 1000; }

}  // namespace

ClockWatch::ClockWatch(Clock& clock, std::function<ClockSync()> sync, const Reporter& reporter)
    : clock_(clock), sync_(std::move(sync)), reporter_(reporter) {}

void ClockWatch::pass() {
  const WallMilliseconds wallNow = clock_.wallNowMs();
  const SteadyTime steadyNow = clock_.steadyNow();
  if (started_) checkStep(wallNow, steadyNow);
  if (!started_ || steadyNow >= nextSyncCheck_) checkSync(steadyNow);
  started_ = true;
  lastWall_ = wallNow;
  lastSteady_ = steadyNow;
}

void ClockWatch::checkSync(SteadyTime steadyNow) {
  nextSyncCheck_ = steadyNow + kSyncCheckEvery;
  const ClockSync state = sync_();
  if (state == ClockSync::Synchronised) warned_ = false;
  if (state != ClockSync::Unsynchronised || warned_) return;
  warned_ = true;
  reporter_.post(event::ClockUnsynchronised{});
}

// The wall clock should move as the steady one does; what it moved beyond
// that since the last pass is a step.
void ClockWatch::checkStep(WallMilliseconds wallNow, SteadyTime steadyNow) {
  const milliseconds step = (wallNow - lastWall_) -
                            std::chrono::duration_cast<milliseconds>(steadyNow - lastSteady_);
  if (step > kStepLimit || step < -kStepLimit) reporter_.post(event::ClockStepped{seconds(step)});
}

}  // namespace vorta
