// Tells a service manager how the recording lives: "READY=1" once the first
// sound has arrived (not merely once the device opened: a device that opens
// and then delivers nothing is not a working recorder), "WATCHDOG=1" while
// sound keeps arriving, at most every half watchdog interval, so a capture
// that stalls stops the pings and the manager restarts the service, and
// "STOPPING=1" when the recording ends. Does nothing when nobody listens.
//
// Threads: main thread only (the capture loop, after each wake-up).
#pragma once

#include <optional>

#include "platform/Clock.h"

namespace vorta {

class ServiceNotifier;

class ServiceHeartbeat {
 public:
  ServiceHeartbeat(const ServiceNotifier& notifier, Clock& clock);

  // One pass of the capture loop; soundArrived: the device handed back at
  // least one filled block since the last pass.
  void pass(bool soundArrived);
  void stopping();

 private:
  const ServiceNotifier& notifier_;
  Clock& clock_;
  bool ready_ = false;
  std::optional<SteadyTime> lastPing_;  // when the last WATCHDOG=1 went
};

}  // namespace vorta
