// The service manager's reading of a run's events: every status line as
// "STATUS=..." (which `systemctl status` shows), as whole text without the
// carriage return. Does nothing when no manager listens.
//
// Threads: status ticks come from the capture loop; the notifier's send()
// may be called from any thread.
#pragma once

#include "base/Reporter.h"
#include "base/Settings.h"

namespace vorta {

class ServiceNotifier;

class NotifySink final : public EventSink {
 public:
  NotifySink(const ServiceNotifier& notifier, Language language)
      : notifier_(notifier), language_(language) {}
  void on(const RunEvent& event) override;

 private:
  const ServiceNotifier& notifier_;
  Language language_;
};

}  // namespace vorta
