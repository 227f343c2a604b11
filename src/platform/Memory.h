// Physical memory, locking pages in memory, and giving pages back.
//
// Contract: any thread. Results of lock, unlock and discard are ignored by
// design: a failed lock only means the pages may be swapped, a failed discard
// only that they stay resident.
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

// The size of a page of memory, a power of two.
std::size_t memoryPageBytes();

void lockMemory(const void* address, std::size_t length);
void unlockMemory(const void* address, std::size_t length);

// The whole pages inside [address, address + length), as the addresses
// [first, last); none when first >= last. Bytes of a page only partly inside
// are left out. One rule for every system's discardPages.
struct PageRange {
  std::uintptr_t first = 0, last = 0;
};
inline PageRange wholePagesInside(const void* address, std::size_t length) {
  const std::uintptr_t page = memoryPageBytes();
  const auto begin = reinterpret_cast<std::uintptr_t>(address);
  return {(begin + page - 1) & ~(page - 1), (begin + length) & ~(page - 1)};
}

// Gives the whole pages inside [address, address + length) back to the
// system: they stop counting as resident and stay allocated to the caller,
// but their contents are lost (the next touch finds zeros or anything).
// Bytes of a page only partly inside the range are kept. No other thread may
// touch the range during the call.
void discardPages(void* address, std::size_t length);

}  // namespace vorta
