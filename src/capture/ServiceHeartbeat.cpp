#include "capture/ServiceHeartbeat.h"

#include "platform/Clock.h"
#include "platform/Notify.h"

namespace vorta {

ServiceHeartbeat::ServiceHeartbeat(const ServiceNotifier& notifier, Clock& clock)
    : notifier_(notifier), clock_(clock) {}

// A failed send is ignored: the manager's own time-outs say what is missing.
void ServiceHeartbeat::pass(bool soundArrived) {
  if (!soundArrived || !notifier_.enabled()) return;
  if (!ready_) {
    static_cast<void>(notifier_.send("READY=1"));
    ready_ = true;
  }
  const std::chrono::microseconds interval(notifier_.watchdogMicroseconds());
  if (interval.count() <= 0) return;
  const SteadyTime now = clock_.steadyNow();
  const auto halfInterval = interval / 2;
  if (lastPing_ && now - *lastPing_ < halfInterval) return;
  static_cast<void>(notifier_.send("WATCHDOG=1"));
  lastPing_ = now;
}

void ServiceHeartbeat::stopping() { static_cast<void>(notifier_.send("STOPPING=1")); }

}  // namespace vorta
