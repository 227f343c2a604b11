// Whether the system's clock is kept in step with a time source (NTP, the
// Windows time service). A recorder that names its files after the clock
// warns when nobody keeps the clock right.
//
// Contract: any thread; asks the system each time, holds no state. A system
// that cannot tell answers Unknown, which is never reported.
#pragma once

namespace vorta {

enum class ClockSync { Synchronised, Unsynchronised, Unknown };

ClockSync clockSync();

}  // namespace vorta
