#include "platform/ClockHealth.h"

#include <windows.h>

namespace vorta {

// Periodic adjustment in use means the time service disciplines the clock.
// When it is off, the system may still set the clock by its own means, so
// nothing can be told.
ClockSync clockSync() {
  DWORD adjustment = 0, increment = 0;
  BOOL disabled = TRUE;
  if (!GetSystemTimeAdjustment(&adjustment, &increment, &disabled) || disabled)
    return ClockSync::Unknown;
  return ClockSync::Synchronised;
}

}  // namespace vorta
