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

void lockMemory(const void* address, std::size_t length);
void unlockMemory(const void* address, std::size_t length);

}  // namespace vorta
