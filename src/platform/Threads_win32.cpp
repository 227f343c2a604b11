#include "platform/Threads.h"

#include <windows.h>

#include "platform/Wide_win32.h"

namespace vorta {

// Windows levels are absolute: there is no base to count from.
ThreadPriorities::ThreadPriorities() = default;

void ThreadPriorities::setCurrent(PriorityLevel level) const {
  int priority = THREAD_PRIORITY_NORMAL;
  if (level == PriorityLevel::AboveNormal) priority = THREAD_PRIORITY_ABOVE_NORMAL;
  if (level == PriorityLevel::Highest) priority = THREAD_PRIORITY_HIGHEST;
  (void)SetThreadPriority(GetCurrentThread(), priority);  // a wish, never a failure
}

PriorityLevel ThreadPriorities::current() const {
  const int priority = GetThreadPriority(GetCurrentThread());
  if (priority == THREAD_PRIORITY_ERROR_RETURN) return PriorityLevel::Normal;
  if (priority >= THREAD_PRIORITY_HIGHEST) return PriorityLevel::Highest;
  if (priority >= THREAD_PRIORITY_ABOVE_NORMAL) return PriorityLevel::AboveNormal;
  return PriorityLevel::Normal;
}

// SetThreadDescription exists from Windows 10 1607 on: looked up, not linked,
// so the program still starts on older systems.
void nameCurrentThread(const char* name) {
  using Describe = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto describe = reinterpret_cast<Describe>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (describe) (void)describe(GetCurrentThread(), toWide(name).c_str());
}

ThreadPriorities leaveIdlePriorityClass() {
  if (GetPriorityClass(GetCurrentProcess()) == IDLE_PRIORITY_CLASS)
    (void)SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
  return ThreadPriorities();
}

void sleepMs(int milliseconds) { Sleep(milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds)); }

}  // namespace vorta
