#include <sys/timex.h>

#include "platform/ClockHealth.h"

namespace vorta {

// The kernel's NTP state: STA_UNSYNC stays set until a time daemon (ntpd,
// chrony, systemd-timesyncd) says the clock is in step.
ClockSync clockSync() {
  timex state{};  // modes 0: read only
  if (adjtimex(&state) == -1) return ClockSync::Unknown;
  return (state.status & STA_UNSYNC) != 0 ? ClockSync::Unsynchronised : ClockSync::Synchronised;
}

}  // namespace vorta
