// Thread priority levels and sleeping.
//
// Levels: 0 normal, 1 above normal, 2 highest. On Linux a level is a per-thread
// nice value: process nice - 5 x level. Raising needs CAP_SYS_NICE or
// RLIMIT_NICE; when the system refuses, the call changes nothing and says
// nothing, as priority calls always have here.
//
// Contract: each call acts on the calling thread only.
#pragma once

namespace vorta {

constexpr int kPriorityNormal = 0;
constexpr int kPriorityAboveNormal = 1;
constexpr int kPriorityHighest = 2;

void setCurrentThreadPriority(int level);
int currentThreadPriority();

// A process started at idle priority (nice 19 or SCHED_IDLE) is moved to
// normal; any other priority is left alone.
void leaveIdlePriorityClass();

void sleepMs(int milliseconds);

}  // namespace vorta
