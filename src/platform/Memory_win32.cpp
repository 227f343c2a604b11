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

std::size_t memoryPageBytes() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}

// VirtualLock is limited by the process's working-set minimum: a refusal
// only means the pages may be paged out.
void lockMemory(const void* address, std::size_t length) {
  (void)VirtualLock(const_cast<void*>(address), length);
}

void unlockMemory(const void* address, std::size_t length) {
  (void)VirtualUnlock(const_cast<void*>(address), length);
}

// MEM_RESET tells the system the contents are no longer needed (never paged
// out); unlocking pages that are not locked takes them out of the working
// set at once, which is what the caller asks for. Results ignored: the pages
// merely stay resident.
void discardPages(void* address, std::size_t length) {
  const PageRange pages = wholePagesInside(address, length);
  if (pages.first >= pages.last) return;
  void* const first = reinterpret_cast<void*>(pages.first);
  (void)VirtualAlloc(first, pages.last - pages.first, MEM_RESET, PAGE_READWRITE);
  (void)VirtualUnlock(first, pages.last - pages.first);
}

}  // namespace vorta
