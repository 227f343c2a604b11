#include "platform/Threads.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace vorta {
namespace {

int processNice() {
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, 0);
  return errno ? 0 : nice;
}

pid_t threadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

}  // namespace

ThreadPriorities::ThreadPriorities() : base_(processNice()) {}

void ThreadPriorities::setCurrent(PriorityLevel level) const {
  const int nice = base_ - 5 * static_cast<int>(level);
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(threadId()), nice);
}

PriorityLevel ThreadPriorities::current() const {
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(threadId()));
  if (errno) return PriorityLevel::Normal;
  const int level = (base_ - nice) / 5;
  if (level <= 0) return PriorityLevel::Normal;
  return level == 1 ? PriorityLevel::AboveNormal : PriorityLevel::Highest;
}

void nameCurrentThread(const char* name) { (void)pthread_setname_np(pthread_self(), name); }

ThreadPriorities leaveIdlePriorityClass() {
  if (sched_getscheduler(0) == SCHED_IDLE) {
    sched_param param{};
    sched_setscheduler(0, SCHED_OTHER, &param);
  }
  if (processNice() >= 19) setpriority(PRIO_PROCESS, 0, 0);
  return ThreadPriorities();
}

void sleepMs(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace vorta
