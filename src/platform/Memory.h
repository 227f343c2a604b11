// Physical memory and locking pages in memory.
//
// Contract: any thread. Results of lock and unlock are ignored by design: a
// failed lock only means the pages may be swapped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorta {

// Total physical memory in bytes; 0 when the system does not say.
std::uint64_t physicalMemoryBytes();

// Memory aligned to `alignment` (a power of two), for the program's aligned
// allocation functions; nullptr when refused. Freed with freeAligned only:
// some systems keep aligned blocks apart from malloc's.
void* allocateAligned(std::size_t bytes, std::size_t alignment);
void freeAligned(void* p);

void lockMemory(const void* address, std::size_t length);
void unlockMemory(const void* address, std::size_t length);

}  // namespace vorta
