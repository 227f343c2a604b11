#include "platform/Memory.h"

#include <sys/mman.h>
#include <unistd.h>

namespace vorta {

std::uint32_t physicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  const unsigned long long total =
      static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(pageSize);
  return total > 4294967295ULL ? 4294967295U : static_cast<std::uint32_t>(total);
}

void lockMemory(const void* address, std::size_t length) { (void)mlock(address, length); }

void unlockMemory(const void* address, std::size_t length) { (void)munlock(address, length); }

}  // namespace vorta
