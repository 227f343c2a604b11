// The program's allocation functions. Every buffer vorta allocates for itself
// (the rings, the capture buffers, the encoder's buffers, names) goes through
// operator new; when the system refuses, the user learns how many bytes were
// asked for and the process ends with code 3. Replacing the allocation
// functions, rather than only installing a new-handler, is what lets the
// message name the size.
//
// This file is linked into the vorta executable only, so the tests keep the
// standard behaviour.
#include "app/OutOfMemory.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "base/Messages.h"
#include "base/TextOutput.h"
#include "platform/Memory.h"
#include "platform/Process.h"

namespace {

// The allocation functions are called from anywhere, with nothing that
// could hand them the run's TextOutput, so the one choice they need is kept
// here, process-wide. Stored once by the main thread before any other thread
// starts (the thread's start orders it); relaxed is enough.
std::atomic<vorta::Language> gLanguage{vorta::Language::English};
static_assert(std::atomic<vorta::Language>::is_always_lock_free);

[[noreturn]] void outOfMemory(std::size_t bytes) {
  // Formatting the text may itself need memory (a Russian text converted to
  // the console's codeset): should that fail too, the process ends without
  // the text rather than recursing. The flag is only ever set, once.
  static std::atomic<bool> reporting{false};
  if (!reporting.exchange(true)) {
    const std::string line = vorta::formatText(gLanguage.load(std::memory_order_relaxed),
                                               vorta::Msg::OutOfMemory,
                                               static_cast<unsigned long>(bytes));
    // Straight to standard error, past the console thread's queue.
    vorta::writeToStream(vorta::Stream::Err, line, false);
  }
  vorta::exitNow(static_cast<int>(vorta::ExitCode::Error));
}

void* allocate(std::size_t bytes) {
  void* p = std::malloc(bytes ? bytes : 1);
  if (!p) outOfMemory(bytes);
  return p;
}

void* allocateAligned(std::size_t bytes, std::align_val_t alignment) {
  void* p = vorta::allocateAligned(bytes, static_cast<std::size_t>(alignment));
  if (!p) outOfMemory(bytes);
  return p;
}

}  // namespace

void vorta::sayOutOfMemoryIn(Language language) {
  gLanguage.store(language, std::memory_order_relaxed);
}

void* operator new(std::size_t bytes) { return allocate(bytes); }
void* operator new[](std::size_t bytes) { return allocate(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return allocate(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return allocate(bytes); }
void* operator new(std::size_t bytes, std::align_val_t a) { return allocateAligned(bytes, a); }
void* operator new[](std::size_t bytes, std::align_val_t a) { return allocateAligned(bytes, a); }

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { vorta::freeAligned(p); }
void operator delete[](void* p, std::align_val_t) noexcept { vorta::freeAligned(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { vorta::freeAligned(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { vorta::freeAligned(p); }
