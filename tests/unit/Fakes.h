// The fakes the unit tests share, one of each kind, by owner: what the
// program prints and reports, the clock, the encoder engine and the output files (the
// sound input's fake lives with the capture loop's tests, its only user).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/ConsoleSink.h"
#include "base/Messages.h"
#include "base/TextOutput.h"
#include "base/Reporter.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Mp3Engine.h"

namespace vorta {

// --- Text sink: everything printed through the message catalogue, by stream,
// for exact comparisons.
struct KeptText : TextSink {
  void write(Stream stream, std::string_view bytes) override {
    (stream == Stream::Out ? out : err).append(bytes);
  }
  std::string out, err;
};

// --- Clock (sound): times the test sets.
class FakeClock : public Clock {
 public:
  WallSeconds wallNow() override { return wall; }
  LocalTime localTime(WallSeconds) override { return time; }
  SteadyTime steadyNow() override { return steady; }
  std::chrono::nanoseconds processCpuTime() override { return cpu; }
  LocalTime time{7, 1, 15};  // Monday the 15th, 07:00
  WallSeconds wall{std::chrono::seconds(1000)};
  SteadyTime steady{};
  std::chrono::nanoseconds cpu{0};
};

// --- Reporter: every event posted, and the console's reading of them (the
// texts in `text`, the terminal's status lines in `status`).
struct KeptReport : EventSink {
  explicit KeptReport(bool logLines = false)
      : console({Language::English, logLines, &text}, false,
                [this](std::string_view l) { status.emplace_back(l); }, clock) {
    reporter.add(*this), reporter.add(console);
  }
  void on(const RunEvent& e) override { events.push_back(e); }
  template <class E> std::vector<E> all() const {
    std::vector<E> found;
    for (const RunEvent& e : events) if (auto* p = std::get_if<E>(&e)) found.push_back(*p);
    return found;
  }
  KeptText text;
  FakeClock clock;
  std::vector<std::string> status;
  std::vector<RunEvent> events;
  ConsoleSink console;
  Reporter reporter;
};

// --- Encoder engine (encode)

// 384-byte frames (MPEG-1 Layer III, 128 kbit/s, 48 kHz), frame k carrying k, in outputs
// that ignore the frames as the real engine's do; chunks of 6 samples; flush completes a frame.
struct FakeEngine : Mp3Engine {
  static constexpr std::uint32_t kFrame = 384, kChunkSamples = 6;
  std::uint32_t output = 5000;  // bytes per encode call
  int failEncodeAt = -1;
  bool failFlush = false;
  std::uint64_t produced = 0;
  std::function<void(int call)> onEncode;

  struct Codec : Mp3Stream::Codec {
    explicit Codec(FakeEngine& e) : e(e) {}
    Result<std::uint32_t> encode(const std::int16_t*, std::uint32_t n, std::uint8_t* out,
                                 std::uint32_t) override {
      if (e.onEncode) e.onEncode(calls);
      if (calls++ == e.failEncodeAt) return Error{ErrorKind::Failed, 4, "failed"};
      return e.emit(out, n == 0 ? 0 : e.output);
    }
    Result<std::uint32_t> flush(std::uint8_t* out, std::uint32_t) override {
      if (e.failFlush) return Error{ErrorKind::Failed, 3, "failed"};
      return e.emit(out, std::uint32_t((kFrame - e.produced % kFrame) % kFrame));
    }
    FakeEngine& e;
    int calls = 0;
  };
  Mp3Version version() override { return {3, 7}; }
  Result<Mp3Stream> open(const Mp3Params&) override {
    return Mp3Stream(std::make_unique<Codec>(*this), kChunkSamples);
  }
  std::uint32_t emit(std::uint8_t* out, std::uint32_t n) {
    static constexpr std::uint8_t kHeader[4] = {0xFF, 0xFB, 0x94, 0x00};
    for (std::uint32_t i = 0; i < n; ++i, ++produced) {
      const std::uint64_t frame = produced / kFrame, at = produced % kFrame;
      out[i] = at < 4 ? kHeader[at] : at < 8 ? std::uint8_t(frame >> (8 * (at - 4))) : 0x55;
    }
    return n;
  }
};

// --- Output files (encode): the real ones, with an open or a finish (sync)
// that can be made to fail.
struct FlakyFiles : FileSystem {
  int failOpenAt = -1, failFinishAt = -1, opens = 0, finishes = 0;
  struct File : OutputFile {
    File(std::unique_ptr<OutputFile> f, FlakyFiles& o) : real(std::move(f)), owner(o) {}
    const FileFacts& facts() const override { return real->facts(); }
    Result<std::size_t> readAt(std::uint64_t at, void* b, std::size_t n) override { return real->readAt(at, b, n); }
    Status write(const void* b, std::size_t n) override { return real->write(b, n); }
    Status truncate(std::uint64_t n) override { return real->truncate(n); }
    Status finish() override {
      const Status s = real->finish();
      return owner.finishes++ == owner.failFinishAt ? Error{ErrorKind::Failed, 5, "sync failed"} : s;
    }
    std::unique_ptr<OutputFile> real;
    FlakyFiles& owner;
  };
  Result<std::unique_ptr<OutputFile>> open(const std::string& name) override {
    if (opens++ == failOpenAt) return Error{ErrorKind::Failed, 13, "open refused"};
    auto real = systemFileSystem().open(name);
    if (!real.ok()) return real;
    return std::unique_ptr<OutputFile>(std::make_unique<File>(std::move(real).value(), *this));
  }
  bool exists(const std::string& path) override { return systemFileSystem().exists(path); }
  void remove(const std::string& path) override { systemFileSystem().remove(path); }
};

}  // namespace vorta
