// The capture loop with a fake input, clock, keys and files.
#include <gtest/gtest.h>

#include <set>

#include "Fakes.h"
#include "base/RingBuffer.h"
#include "base/RunState.h"
#include "capture/CaptureLoop.h"
#include "platform/SoundInput.h"
#include "platform/Terminal.h"

namespace vorta {
namespace {

using namespace std::chrono_literals;

// Input, files (a set of names) and keys; the keys run the script once per pass (0: before
// the loop); stop() hands over 400 bytes.
struct Rig final : SoundInput, FileSystem {
  bool devicePresent() override { return log += "present ", present; }
  Status open(const SoundFormat& f, SoundCallback& cb) override {
    return log += "open ", format = f, callback = &cb, openError ? Status(*openError) : Status();
  }
  Status start() override { return log += "start ", Status(); }
  void stop() override { log += "stop ", callback->onBlock(tail, sizeof tail); }
  void close() override { log += "close "; }
  Result<std::unique_ptr<OutputFile>> open(const std::string&) override { return Error{ErrorKind::Failed, 13, ""}; }
  bool exists(const std::string& path) override { return files.count(path) != 0; }
  void remove(const std::string& path) override { path == "stopdir" || files.erase(path); }
  struct Keys final : KeySource {
    explicit Keys(Rig& rig) : r(rig) {}
    bool keyWaiting() override {  // a broken loop ends after 50 passes
      return r.script(++r.passes), r.key = r.passes > 50 ? kKeyEscape : r.key, r.run.captureEvent.set(), r.key >= 0;
    }
    int readKey() override { return std::exchange(r.key, -1); }
    Rig& r;
  };
  CaptureResult runLoop() {
    script(0);
    CapturePorts p{this, &clock, this, [this] { return std::unique_ptr<KeySource>(new Keys(*this)); },
                   [this] { return stopRequested; }, [this](int ms) { onSleep(sleeps += ms / 20); },
                   [this](const Error*) { ++afterErrors; }};
    return runCaptureLoop(settings, run, ring, p, report.reporter);
  }

  KeptReport report;
  std::vector<std::string>& status = report.status;
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
};

TEST(CaptureLoop, WaysToEndARecording) {
  // A device that cannot be opened ends at once; every other way stops the input (its last
  // block reaches the ring before the encoder drains) and closes it.
  const CaptureEnd kOk = CaptureEnd::Stopped, kError = CaptureEnd::InputLost, kFailed = CaptureEnd::DeviceFailed;
  const std::string kNone = "\r\n* Error: Soundrecord device not found.\r\n", kRefused = "\r\nMMSystem error: No "
      "such file or directory\r\n", kLost = "\r\n* Error: the sound input stopped working (Input/output error).\r\n",
      kOverrun = "\r\n* Sound input overrun: about 350 ms of sound lost.\r\n";
  const struct { std::function<void(Rig&, int)> script; int passes; bool atOnce; CaptureEnd end; std::string err; } rows[] = {
      {[](Rig& r, int) { r.present = false; }, 0, true, kFailed, kNone},
      {[](Rig& r, int) { r.openError = Error{ErrorKind::Failed, -2, "No such file or directory"}; }, 0, true, kFailed, kRefused},
      {[](Rig& r, int p) { r.run.encoderDone.store(p == 0); }, 0, false, kOk, ""},
      {[](Rig& r, int p) { r.run.encoderDone.store(p == 2); }, 2, false, kOk, ""},
      {[](Rig& r, int p) { r.key = p == 1 ? 'a' : p == 3 ? kKeyEscape : -1; }, 3, false, kOk, ""},
      {[](Rig& r, int p) { r.stopRequested = p == 3; }, 3, false, kOk, ""},
      {[](Rig& r, int p) { p == 2 ? void(r.files.insert("stop")) : void(); }, 2, false, kOk, ""},
      {[](Rig& r, int p) { p == 0 ? void(r.files.insert("stopdir")) : void(); }, 1, false, kOk, ""},
      {[](Rig& r, int p) { p == 1 ? r.callback->onInputLost(Error{ErrorKind::Failed, -5, "Input/output error"}) : void(); }, 1, false, kError, kLost},
      {[](Rig& r, int p) { p == 1 ? r.callback->onOverrun(250ms), r.callback->onOverrun(100ms) : void();
                           r.stopRequested = p == 3; }, 3, false, kOk, kOverrun}};
  for (const auto& row : rows) {
    const long i = &row - rows;
    Rig rig;
    rig.settings.stopFileName = i == 7 ? "stopdir" : "stop";
    rig.script = [&](int pass) { row.script(rig, pass); };
    const CaptureResult result = rig.runLoop();
    SCOPED_TRACE(i);  // a directory named as the stop file stays
    EXPECT_EQ(std::tuple(result.end, rig.afterErrors, rig.passes, rig.status.empty(),
                         rig.ring.available(), rig.files.size(), rig.report.text.err),
              std::tuple(row.end, int(row.atOnce), row.passes, row.passes == 0, row.atOnce ? 0u : 400u,
                         std::size_t(i == 7), row.err));
    EXPECT_EQ(rig.log, i == 0 ? "present " : i == 1 ? "present open close " : "present open start stop close ");
    EXPECT_TRUE(row.atOnce || !(rig.run.captureEvent.isOpen() || rig.run.encoderEvent.isOpen()));
  }
}

TEST(CaptureLoop, StatusEverySecondPassThenEvery500msUntilTheEncoderIsDone) {
  Rig rig;
  rig.script = [&](int pass) { rig.key = pass == 3 ? kKeyEscape : -1; };
  rig.onSleep = [&](int step) {  // 20 ms steps; done 60 ms into the third half second
    rig.run.bytesWritten.store(16384u * static_cast<unsigned>((step + 24) / 25)), rig.run.encoderDone.store(step == 53);
  };
  rig.runLoop();
  EXPECT_EQ(rig.sleeps, 53);
  std::vector<std::string> expected;  // the stop's last block is in the ring while it drains
  for (const char* line : {"0.0", "0.0", "16.0", "32.0", "48.0"})
    expected.push_back("Record: " + std::string(line) + " kbytes (0:00:00), buffer free: " +
                       (line[1] == '.' ? "100.0" : "99.9") + "%, CPU usage: 0.0%    \r");
  EXPECT_EQ(rig.status, expected);
  EXPECT_EQ(rig.format.bytesPerSecond(), 176400);
}

TEST(CaptureLoop, SplitRequestsFollowTheNameInEitherDirection) {
  Rig rig;
  rig.settings.splitMode = SplitMode::Monthly;
  rig.settings.outputName = "15 - 07.mp3";  // per pass: the request, the next hour and day
  const struct { std::int64_t request; int hour, day; } passes[] = {
      {0, 8, 15}, {1001, 8, 15}, {0, 7, 15}, {1003, 7, 16}, {1004, 7, 16}, {0, 7, 16}};
  rig.script = [&](int pass) {
    if (pass == 0) return;
    EXPECT_EQ(rig.run.splitRequest.exchange(0), passes[pass - 1].request) << pass;
    rig.clock.time.hour = passes[pass - 1].hour, rig.clock.time.dayOfMonth = passes[pass - 1].day;
    rig.clock.wall = WallSeconds(std::chrono::seconds(1000 + pass)), rig.key = pass == 6 ? kKeyEscape : -1;
  };
  EXPECT_TRUE(rig.runLoop().end == CaptureEnd::Stopped && rig.passes == 6);
}

}  // namespace
}  // namespace vorta
