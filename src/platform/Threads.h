// Thread priority levels, thread names and sleeping.
//
// A level is a per-thread nice value counted from the process's base nice
// (read when a ThreadPriorities is made: at start-up, once the idle class is
// left): nice = base - 5 x level. Linux threads inherit the nice value of the thread that
// creates them, so a thread that needs a level sets it as its first act.
// Raising needs CAP_SYS_NICE or RLIMIT_NICE; when the system refuses, the
// thread simply keeps its level: a priority is a wish, never a reason to fail
// a recording.
//
// Contract: each call acts on the calling thread only.
#pragma once

namespace vorta {

enum class PriorityLevel { Normal = 0, AboveNormal = 1, Highest = 2 };

// The levels of this process's threads. A value made once on the main thread
// (leaveIdlePriorityClass) and handed to each part that starts a thread whose
// level it sets; it never changes, so any thread may use it.
class ThreadPriorities {
 public:
  // Counted from the process's priority as it is now.
  ThreadPriorities();
  void setCurrent(PriorityLevel level) const;
  PriorityLevel current() const;

 private:
  int base_ = 0;  // the nice value levels are counted from (Linux)
};

// Names the calling thread for `top -H` and /proc (at most 15 bytes are kept).
void nameCurrentThread(const char* name);

// A process started at idle priority (nice 19 or SCHED_IDLE) is moved to
// normal; any other priority is left alone. Returns the levels counted from
// the process's priority after that.
ThreadPriorities leaveIdlePriorityClass();

void sleepMs(int milliseconds);

}  // namespace vorta
