// The command-line reader on any words (the input split at NUL bytes): it
// must return, never end the process or wait for a key. Standard output goes
// to /dev/null so the help never pages.
#include <fcntl.h>
#include <unistd.h>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>
#include "app/StartUp.h"
#include "base/TextOutput.h"
#include "platform/Clock.h"

namespace {
struct NullSink final : vorta::TextSink {
  void write(vorta::Stream, std::string_view) override {}
};
struct FixedClock final : vorta::Clock {
  vorta::WallSeconds wallNow() override { return {}; }
  vorta::LocalTime localTime(vorta::WallSeconds) override { return vorta::LocalTime{23, 6, 31}; }
  vorta::SteadyTime steadyNow() override { return {}; }
  std::chrono::nanoseconds processCpuTime() override { return {}; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const int quiet = ::dup2(::open("/dev/null", O_WRONLY), 1);
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> words{"vorta"};
  for (std::size_t at = 0; size > 0 && at <= size; at += std::strlen(bytes.c_str() + at) + 1)
    words.emplace_back(bytes.c_str() + at);
  NullSink sink;
  FixedClock clock;
  (void)vorta::startUp(words, clock, std::uint64_t(size % 4) << 30, &sink);  // 0 to 3 GB of memory
  return 0;
}
