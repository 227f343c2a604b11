// Fuzzing the command-line reader: the input's bytes, split at NUL bytes, are
// the words after the program's name. readSettings runs in-process with the
// texts thrown away and a fixed clock; it must return (never end the process
// or wait for a key), and a command line it accepts must leave settings the
// recorder can run with. Any broken rule aborts, which libFuzzer reports
// with the input that did it.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
  std::int64_t processCpuTime() override { return 0; }
  std::int64_t systemTime() override { return 0; }
};

void require(bool ok, const char* rule) {
  if (ok) return;
  std::fprintf(stderr, "broken rule: %s\n", rule);
  std::abort();
}

bool oneOf(int value, std::initializer_list<int> allowed) {
  for (int a : allowed)
    if (value == a) return true;
  return false;
}

// What the encoder, the capture and the file code rely on.
void checkAccepted(const Settings& s) {
  require(oneOf(s.sampleRate, {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}),
          "sample rate is one of the nine");
  const bool mpeg1 = s.sampleRate >= 32000;
  const bool mpeg25 = s.sampleRate <= 12000;
  require(s.mpegVersion == (mpeg1 ? 0.0f : mpeg25 ? 1.5f : 1.0f), "MPEG version fits the rate");
  if (mpeg1) {
    require(oneOf(s.bitrate, {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}),
            "bitrate valid for MPEG-1");
  } else {
    require(oneOf(s.bitrate, {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}),
            "bitrate valid for MPEG-2/2.5");
  }
  require(s.bufferSize >= 262144, "buffer at least 256 KB");
  require(s.timeLimitSeconds >= 0 && s.timeLimitSeconds % 60 == 0, "time limit whole minutes");
  require(s.silenceThreshold >= 0 && s.silenceThreshold <= 32767, "silence threshold 16-bit");
  const std::string& name = s.outputName;
  require(!name.empty(), "output name not empty");
  require(name.size() <= Settings::kMaxNameBytes, "output name at most 259 bytes");
  require(s.stopFileName.size() <= Settings::kMaxNameBytes,
          "stop-file name at most 259 bytes");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Standard output away from any terminal, so that the help never pages and
  // never waits for Enter even when the fuzzer is started from one.
  std::fflush(stdout);
  const int null = ::open("/dev/null", O_WRONLY);
  if (null >= 0) {
    ::dup2(null, 1);
    ::close(null);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words;
  std::string word;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0) words.push_back(word);

  std::vector<const char*> argv{"vorta"};
  for (const std::string& w : words) argv.push_back(w.c_str());
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

  if (result.run) {
    require(result.exitCode == vorta::ExitCode::Ok, "a run starts with exit code 0");
    checkAccepted(settings);
  } else {
    require(result.exitCode == vorta::ExitCode::NothingToDo ||
                result.exitCode == vorta::ExitCode::Error,
            "refusal ends with 1 or 3");
  }
  return 0;
}
