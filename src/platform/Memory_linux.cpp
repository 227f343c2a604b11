#include "platform/Memory.h"

#include <sys/mman.h>
#include <unistd.h>

namespace vorta {

std::uint64_t physicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

void lockMemory(const void* address, std::size_t length) { (void)mlock(address, length); }

void unlockMemory(const void* address, std::size_t length) { (void)munlock(address, length); }

}  // namespace vorta
