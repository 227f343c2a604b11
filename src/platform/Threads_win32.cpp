#include "platform/Threads.h"

#include <windows.h>

namespace vorta {
namespace {

constexpr int kLevels[] = {THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_ABOVE_NORMAL,
                           THREAD_PRIORITY_HIGHEST};

}  // namespace

void setCurrentThreadPriority(int level) {
  if (level < kPriorityNormal || level > kPriorityHighest) return;
  (void)SetThreadPriority(GetCurrentThread(), kLevels[level]);
}

int currentThreadPriority() {
  const int priority = GetThreadPriority(GetCurrentThread());
  if (priority >= THREAD_PRIORITY_HIGHEST) return kPriorityHighest;
  if (priority >= THREAD_PRIORITY_ABOVE_NORMAL) return kPriorityAboveNormal;
  return kPriorityNormal;
}

void leaveIdlePriorityClass() {
  if (GetPriorityClass(GetCurrentProcess()) == IDLE_PRIORITY_CLASS)
    (void)SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
}

void sleepMs(int milliseconds) { Sleep(milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds)); }

}  // namespace vorta
