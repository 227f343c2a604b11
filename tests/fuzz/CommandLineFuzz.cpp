// Fuzzing the command-line reader: the input's bytes, split at NUL bytes, are
// the words after the program's name. readSettings runs in-process with the
// texts thrown away and a fixed clock; it must return (never end the process
// or wait for a key), and a command line it accepts must leave settings the
// recorder can run with. Any broken rule aborts, which libFuzzer reports
// with the input that did it.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/CommandLine.h"
#include "base/Messages.h"
#include "base/Settings.h"
#include "platform/Clock.h"

namespace {

using vorta::Settings;

class NullSink final : public vorta::TextSink {
 public:
  void write(vorta::Stream, std::string_view) override {}
};

class FixedClock final : public vorta::Clock {
 public:
  vorta::LocalTime localTime() override { return vorta::LocalTime{23, 6, 31}; }
  std::int64_t wallSeconds() override { return 0; }
  vorta::LocalTime localTime(std::int64_t) override { return localTime(); }
  std::int64_t processCpuTime() override { return 0; }
  std::int64_t systemTime() override { return 0; }
};

#define REQUIRE(ok) \
  if (!(ok)) std::fprintf(stderr, "broken rule: %s\n", #ok), std::abort()

bool oneOf(int value, std::initializer_list<int> allowed) {
  return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

// What the encoder, the capture and the file code rely on.
void checkAccepted(const Settings& s) {
  REQUIRE(oneOf(s.sampleRate, {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}));
  const bool mpeg1 = s.sampleRate >= 32000;
  REQUIRE(s.mpegVersion == (mpeg1 ? 0.0f : s.sampleRate <= 12000 ? 1.5f : 1.0f));
  REQUIRE(oneOf(s.bitrate, mpeg1 ? std::initializer_list<int>{32, 40, 48, 56, 64, 80, 96, 112, 128,
                                                              160, 192, 224, 256, 320}
                                 : std::initializer_list<int>{8, 16, 24, 32, 40, 48, 56, 64, 80, 96,
                                                              112, 128, 144, 160}));
  REQUIRE(s.bufferSize >= 262144);
  REQUIRE(s.timeLimitSeconds >= 0 && s.timeLimitSeconds % 60 == 0);
  REQUIRE(s.silenceThreshold >= 0 && s.silenceThreshold <= 32767);
  REQUIRE(!s.outputName.empty() && s.outputName.size() <= Settings::kMaxNameBytes);
  REQUIRE(s.stopFileName.size() <= Settings::kMaxNameBytes);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Standard output away from any terminal, so that the help never pages and
  // never waits for Enter even when the fuzzer is started from one.
  std::fflush(stdout);
  ::dup2(::open("/dev/null", O_WRONLY), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<const char*> argv{"vorta"};
  for (std::size_t at = 0; size > 0 && at <= size; at += std::strlen(bytes.c_str() + at) + 1)
    argv.push_back(bytes.c_str() + at);
  argv.push_back(nullptr);  // as the system's argv ends

  // Small, typical, the largest 32-bit figure and a terabyte of physical memory.
  static constexpr std::uint64_t kMemory[] = {0, 512u << 20, 0xFFFFFFFFu, 1ull << 40};
  const std::uint64_t memory = kMemory[size % 4];

  NullSink sink;
  FixedClock clock;
  Settings settings;
  vorta::setTextSink(&sink);
  const vorta::CommandLineResult result =
      vorta::readSettings(static_cast<int>(argv.size() - 1), argv.data(), settings, clock, memory);
  vorta::setTextSink(nullptr);

  if (result.run) checkAccepted(settings);
  REQUIRE(result.exitCode == (result.run ? vorta::ExitCode::Ok : result.exitCode) &&
          result.exitCode != vorta::ExitCode::EncoderFailed);
  return 0;
}
