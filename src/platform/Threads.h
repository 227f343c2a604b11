// Thread priority levels, thread names and sleeping.
//
// A level is a per-thread nice value counted from the process's base nice
// (captured once at start-up, and again when the idle class is left): nice =
// base - 5 x level. Linux threads inherit the nice value of the thread that
// creates them, so a thread that needs a level sets it as its first act.
// Raising needs CAP_SYS_NICE or RLIMIT_NICE; when the system refuses, the
// thread simply keeps its level: a priority is a wish, never a reason to fail
// a recording.
//
// Contract: each call acts on the calling thread only.
#pragma once

namespace vorta {

enum class PriorityLevel { Normal = 0, AboveNormal = 1, Highest = 2 };

void setCurrentThreadPriority(PriorityLevel level);
PriorityLevel currentThreadPriority();

// Names the calling thread for `top -H` and /proc (at most 15 bytes are kept).
void nameCurrentThread(const char* name);

// A process started at idle priority (nice 19 or SCHED_IDLE) is moved to
// normal; any other priority is left alone.
void leaveIdlePriorityClass();

void sleepMs(int milliseconds);

}  // namespace vorta
