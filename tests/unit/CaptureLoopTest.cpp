// The capture loop with a fake input, clock, keys and files: what it prints,
// how it drives the input and how each way out ends.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "Fakes.h"
#include "base/RingBuffer.h"
#include "base/RunState.h"
#include "base/Settings.h"
#include "capture/CaptureLoop.h"
#include "platform/Files.h"
#include "platform/SoundInput.h"
#include "platform/Terminal.h"

namespace vorta {
namespace {

const std::string kLog = "present open start stop close ";
const std::string kLost = "\r\n* Error: the sound input stopped working (Input/output error).\r\n";
const std::string kOverrun = "\r\n* Sound input overrun: about 350 ms of sound lost.\r\n";

// Does what the test says, on the test's thread; stop() hands over 400 bytes.
// Its key source runs the test's script once per pass (pass 0: before the
// loop) and keeps the loop from waiting. Its files are a set of names.
struct Rig final : SoundInput, FileSystem {
  bool devicePresent() override { return log += "present ", present; }
  Status open(const SoundFormat& f, SoundCallback& cb) override {
    log += "open ", format = f, callback = &cb;
    return openError ? Status(*openError) : Status();
  }
  Status start() override { return log += "start ", Status(); }
  void stop() override { log += "stop ", callback->onBlock(tail, sizeof tail); }
  void close() override { log += "close "; }
  Result<std::unique_ptr<OutputFile>> open(const std::string&) override { return Error{13, ""}; }
  bool exists(const std::string& path) override { return files.count(path) != 0; }
  void remove(const std::string& path) override { path == "stopdir" || files.erase(path); }
  struct Keys final : KeySource {
    explicit Keys(Rig& r) : rig(r) {}
    bool keyWaiting() override {
      rig.script(++rig.passes);
      if (rig.passes > 50) rig.key = kKeyEscape;  // a broken loop ends anyway
      return rig.run.captureEvent.set(), rig.key >= 0;
    }
    int readKey() override { return std::exchange(rig.key, -1); }
    Rig& rig;
  };
  CaptureResult runLoop() {
    script(0);
    CapturePorts p{this, &clock, this, [this] { return std::unique_ptr<KeySource>(new Keys(*this)); },
                   [this] { return stopRequested; }, [this](int ms) { onSleep(sleeps += ms / 20); },
                   [this](const Error*) { ++afterErrors; }, [this](const char* b, std::size_t n) { status.emplace_back(b, n); }};
    return runCaptureLoop(settings, run, ring, p);
  }

  KeptText text;
  Settings settings;
  RunState run;
  RingBuffer ring{1u << 20};
  FakeClock clock;
  std::set<std::string> files;
  bool present = true, stopRequested = false;
  std::optional<Error> openError;
  std::uint8_t tail[400] = {};
  SoundFormat format;
  SoundCallback* callback = nullptr;
  std::string log;
  int key = -1, passes = 0, sleeps = 0, afterErrors = 0;
  std::function<void(int pass)> script = [](int) {};
  std::function<void(int sleep)> onSleep = [this](int) { run.encoderDone.store(1); };
  std::vector<std::string> status;
};

TEST(CaptureLoop, WaysToEndARecording) {
  // Per row: what happens on which pass (0: before the loop), the passes run,
  // the end and what is printed. A device that cannot be opened ends the run
  // at once; every other way stops the input, so that its last block reaches
  // the ring before the encoder is told to drain, and closes it.
  const ExitCode kOk = ExitCode::Ok, kError = ExitCode::Error;
  const std::string kNone = "\r\n* Error: Soundrecord device not found.\r\n";
  const std::string kRefused = "\r\nMMSystem error: No such file or directory\r\n";
  const struct { std::function<void(Rig&, int)> script; int passes; bool atOnce; ExitCode code; std::string err; } rows[] = {
      {[](Rig& r, int) { r.present = false; }, 0, true, kError, kNone},
      {[](Rig& r, int) { r.openError = Error{-2, "No such file or directory"}; }, 0, true, kError, kRefused},
      {[](Rig& r, int p) { r.run.encoderDone.store(p == 0); }, 0, false, kOk, ""},
      {[](Rig& r, int p) { r.run.encoderDone.store(p == 2); }, 2, false, kOk, ""},
      {[](Rig& r, int p) { r.key = p == 1 ? 'a' : p == 3 ? kKeyEscape : -1; }, 3, false, kOk, ""},
      {[](Rig& r, int p) { r.stopRequested = p == 3; }, 3, false, kOk, ""},
      {[](Rig& r, int p) { p == 2 ? void(r.files.insert("stop")) : void(); }, 2, false, kOk, ""},
      {[](Rig& r, int p) { p == 0 ? void(r.files.insert("stopdir")) : void(); }, 1, false, kOk, ""},
      {[](Rig& r, int p) { p == 1 ? r.callback->onInputLost(Error{-5, "Input/output error"}) : void(); }, 1, false, kError, kLost},
      {[](Rig& r, int p) { p == 1 ? r.callback->onOverrun(250), r.callback->onOverrun(100) : void();
                           r.stopRequested = p == 3; }, 3, false, kOk, kOverrun}};
  for (const auto& row : rows) {
    const long i = &row - rows;
    Rig rig;
    rig.settings.stopFileName = i == 7 ? "stopdir" : "stop";
    rig.script = [&](int pass) { row.script(rig, pass); };
    const CaptureResult result = rig.runLoop();
    EXPECT_TRUE(result.exitCode == row.code && result.exitAtOnce == row.atOnce) << i;
    EXPECT_EQ(rig.afterErrors, row.atOnce ? 1 : 0) << i;
    EXPECT_EQ(rig.passes, row.passes) << i;
    EXPECT_EQ(rig.status.empty(), row.passes == 0) << i;
    EXPECT_EQ(rig.text.err, row.err) << i;
    EXPECT_EQ(rig.log, i == 0 ? "present " : i == 1 ? "present open close " : kLog) << i;
    EXPECT_EQ(rig.ring.available(), row.atOnce ? 0u : 400u) << i;
    EXPECT_EQ(rig.files.size(), i == 7 ? 1u : 0u) << i;  // a directory stays
    EXPECT_TRUE(row.atOnce || !(rig.run.captureEvent.isOpen() || rig.run.encoderEvent.isOpen())) << i;
  }
}

TEST(CaptureLoop, StatusEverySecondPassThenEvery500msUntilTheEncoderIsDone) {
  Rig rig;
  rig.script = [&](int pass) { rig.key = pass == 3 ? kKeyEscape : -1; };
  rig.onSleep = [&](int step) {  // 20 ms steps; done 60 ms into the third half second
    rig.run.bytesWritten.store(16384u * static_cast<unsigned>((step + 24) / 25));
    if (step == 53) rig.run.encoderDone.store(1);
  };
  rig.runLoop();
  EXPECT_EQ(rig.sleeps, 53);
  std::vector<std::string> expected;  // the stop's last block is in the ring while it drains
  for (const char* line : {"0.0 kbytes (0:00:00), buffer free: 100.0", "0.0 kbytes (0:00:00), buffer free: 100.0",
                           "16.0 kbytes (0:00:00), buffer free: 99.9", "32.0 kbytes (0:00:00), buffer free: 99.9",
                           "48.0 kbytes (0:00:00), buffer free: 99.9"})
    expected.push_back("Record: " + std::string(line) + "%, CPU usage: 0.0%    \r");
  EXPECT_EQ(rig.status, expected);
  EXPECT_EQ(rig.format.bytesPerSecond(), 176400);
}

TEST(CaptureLoop, SplitRequestsFollowTheNameInEitherDirection) {
  Rig rig;
  rig.settings.splitMode = SplitMode::Monthly;
  rig.settings.outputName = "15 - 07.mp3";  // what the command line chose
  // Per pass: the request expected, then the hour and day for the next pass.
  const struct { std::int64_t request; int hour, day; } passes[] = {
      {0, 8, 15}, {1001, 8, 15}, {0, 7, 15}, {1003, 7, 16}, {1004, 7, 16}, {0, 7, 16}};
  rig.script = [&](int pass) {
    if (pass == 0) return;
    EXPECT_EQ(rig.run.splitRequest.exchange(0), passes[pass - 1].request) << pass;
    rig.clock.time.hour = passes[pass - 1].hour, rig.clock.time.dayOfMonth = passes[pass - 1].day;
    rig.clock.epoch = 1000 + pass;
    if (pass == 6) rig.key = kKeyEscape;
  };
  rig.runLoop();
  EXPECT_EQ(rig.passes, 6);
}

}  // namespace
}  // namespace vorta
