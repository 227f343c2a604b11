#include "platform/Memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

namespace vorta {

std::uint64_t physicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

void* allocateAligned(std::size_t bytes, std::size_t alignment) {
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = bytes == 0 ? alignment : (bytes + alignment - 1) / alignment * alignment;
  return rounded < bytes ? nullptr : std::aligned_alloc(alignment, rounded);
}

void freeAligned(void* p) { std::free(p); }

std::size_t memoryPageBytes() {
  const long pageSize = sysconf(_SC_PAGESIZE);
  return pageSize > 0 ? static_cast<std::size_t>(pageSize) : 4096;
}

void lockMemory(const void* address, std::size_t length) { (void)mlock(address, length); }

void unlockMemory(const void* address, std::size_t length) { (void)munlock(address, length); }

void discardPages(void* address, std::size_t length) {
  const PageRange pages = wholePagesInside(address, length);
  if (pages.first >= pages.last) return;
  // MADV_DONTNEED, not MADV_FREE: the pages leave the resident set now, not
  // only once the system runs short of memory.
  (void)madvise(reinterpret_cast<void*>(pages.first), pages.last - pages.first, MADV_DONTNEED);
}

}  // namespace vorta
