#include "platform/Memory.h"

#include <malloc.h>
#include <windows.h>

namespace vorta {

std::uint64_t physicalMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

void* allocateAligned(std::size_t bytes, std::size_t alignment) {
  return _aligned_malloc(bytes == 0 ? 1 : bytes, alignment);
}

void freeAligned(void* p) { _aligned_free(p); }

// VirtualLock is limited by the process's working-set minimum: a refusal
// only means the pages may be paged out.
void lockMemory(const void* address, std::size_t length) {
  (void)VirtualLock(const_cast<void*>(address), length);
}

void unlockMemory(const void* address, std::size_t length) {
  (void)VirtualUnlock(const_cast<void*>(address), length);
}

}  // namespace vorta
