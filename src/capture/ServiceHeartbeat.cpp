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
  const std::int64_t intervalUsec = notifier_.watchdogMicroseconds();
  if (intervalUsec <= 0) return;
  const std::int64_t now = clock_.systemTime();  // 100 ns units
  const std::int64_t halfInterval = intervalUsec * 10 / 2;
  // A clock set back counts as due: an extra ping costs nothing, a missed one
  // restarts the recording.
  if (lastPing_ != 0 && now >= lastPing_ && now - lastPing_ < halfInterval) return;
  static_cast<void>(notifier_.send("WATCHDOG=1"));
  lastPing_ = now;
}

void ServiceHeartbeat::stopping() { static_cast<void>(notifier_.send("STOPPING=1")); }

}  // namespace vorta
