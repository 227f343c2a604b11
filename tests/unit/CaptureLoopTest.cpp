// The capture loop with a fake device, clock, keys and files: what it prints,
// in which order it drives the device, and how each way out ends.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "CaptureFakes.h"
#include "capture/CaptureLoop.h"
#include "base/RunState.h"
#include "base/Settings.h"
#include "base/RingBuffer.h"
#include "platform/Terminal.h"

namespace vorta {
namespace {

using Log = std::vector<std::string>;

const Log kOpened = {"deviceCount", "open", "prepare0", "add0", "prepare1", "add1",
                     "prepare2",    "add2", "start"};
const Log kClosed = {"stop", "reset", "close", "unprepare2", "unprepare1", "unprepare0"};
const std::string kEmptyStatus = "Record: 0.0 kbytes (0:00:00), buffer free: 100.0%, CPU usage: 0.0%    \r";

struct LoopRig;

// Keys the test queues; polled once per pass, which is where the test's
// per-pass script runs. It also paces the loop: every poll sets the event
// so the next pass does not wait for the time-out.
class FakeKeys final : public KeySource {
 public:
  explicit FakeKeys(LoopRig& rig);
  ~FakeKeys() override;
  bool keyWaiting() override;
  int readKey() override;

 private:
  LoopRig& rig_;
};

struct LoopRig {
  LoopRig() : ring(1u << 20) {
    sound.openText = "No such file or directory";
  }

  CapturePorts ports() {
    CapturePorts p;
    p.sound = &sound;
    p.clock = &clock;
    p.files = &files;
    p.openKeys = [this] { return std::unique_ptr<KeySource>(std::make_unique<FakeKeys>(*this)); };
    p.stopRequested = [this] { return stopRequested; };
    p.sleepMs = [this](int ms) {
      sleeps.push_back(ms);
      if (onSleep) onSleep(static_cast<int>(sleeps.size()));
      if (sleeps.size() > 500) run.encoderDone.store(1);  // a broken loop ends anyway
    };
    p.afterError = [this] {
      ++afterErrors;
      keysOpenAtError = keysOpen;
    };
    p.writeStatus = [this](const char* b, std::size_t n) {
      status.emplace_back(b, n);
      sound.log.push_back("status");
    };
    return p;
  }
  CaptureResult runLoop() { return runCaptureLoop(settings, run, ring, ports()); }

  // The device log from the first stop on.
  Log afterStart() const {
    Log tail;
    bool started = false;
    for (const auto& e : sound.log) {
      if (started && e != "status") tail.push_back(e);
      if (e == "start") started = true;
    }
    return tail;
  }

  KeptText text;
  Settings settings;
  RunState run;
  RingBuffer ring;
  FakeSoundInput sound;
  FakeClock clock;
  FakeFiles files;
  std::deque<int> keys;
  std::function<void(int pass)> onPass;
  std::function<void(int sleep)> onSleep = [this](int) { run.encoderDone.store(1); };
  std::vector<std::string> status;
  std::vector<int> sleeps;
  int passes = 0;
  int keySessions = 0;
  bool keysOpen = false;
  bool keysOpenAtError = false;
  bool stopRequested = false;
  int afterErrors = 0;
};

FakeKeys::FakeKeys(LoopRig& rig) : rig_(rig) {
  rig_.keysOpen = true;
  ++rig_.keySessions;
}
FakeKeys::~FakeKeys() { rig_.keysOpen = false; }
bool FakeKeys::keyWaiting() {
  ++rig_.passes;
  if (rig_.onPass) rig_.onPass(rig_.passes);
  if (rig_.passes > 50) rig_.keys.push_back(kKeyEscape);  // a broken loop ends anyway
  rig_.run.captureEvent.set();
  return !rig_.keys.empty();
}
int FakeKeys::readKey() {
  const int key = rig_.keys.front();
  rig_.keys.pop_front();
  return key;
}

TEST(CaptureLoop, NoDeviceOrARefusedOpenEndsWithCode3AtOnce) {
  {
    LoopRig rig;
    rig.sound.devices = 0;
    const CaptureResult result = rig.runLoop();
    EXPECT_TRUE(result.exitAtOnce);
    EXPECT_EQ(result.exitCode, ExitCode::Error);
    EXPECT_EQ(rig.text.err, "\r\n* Error: Soundrecord device not found.\r\n");
    EXPECT_EQ(rig.sound.log, Log{"deviceCount"});
    EXPECT_EQ(rig.afterErrors, 1);
  }
  {
    LoopRig rig;
    rig.sound.openResult = -2;
    const CaptureResult result = rig.runLoop();
    EXPECT_TRUE(result.exitAtOnce);
    EXPECT_EQ(result.exitCode, ExitCode::Error);
    EXPECT_EQ(rig.text.err, "\r\nMMSystem error: No such file or directory\r\n");
    EXPECT_EQ(rig.sound.log, (Log{"deviceCount", "open"}));
    EXPECT_TRUE(rig.status.empty());
    EXPECT_EQ(rig.afterErrors, 1);
  }
}

TEST(CaptureLoop, EncoderAlreadyDoneOpensStartsStopsClosesAndPrintsNothing) {
  LoopRig rig;
  rig.run.encoderDone.store(1);
  const CaptureResult result = rig.runLoop();
  EXPECT_FALSE(result.exitAtOnce);
  EXPECT_EQ(result.exitCode, ExitCode::Ok);
  Log expected = kOpened;
  expected.insert(expected.end(), kClosed.begin(), kClosed.end());
  EXPECT_EQ(rig.sound.log, expected);
  EXPECT_EQ(rig.run.captureStopped.load(), 1u);
  EXPECT_TRUE(rig.status.empty());
  EXPECT_EQ(rig.keySessions, 0);
  EXPECT_FALSE(rig.run.captureEvent.isOpen());  // closed with the device
  EXPECT_EQ(rig.sound.format.bytesPerSecond, 176400);
  EXPECT_EQ(rig.run.captureBytesPerSecond.load(), 176400);
}

TEST(CaptureLoop, EscEndsTheRecordingOtherKeysAreIgnoredAndFilledBuffersAreRequeued) {
  LoopRig rig;
  rig.onPass = [&](int pass) {
    if (pass == 1) {
      rig.sound.deliver(88200, 7);
      rig.keys.push_back('a');
    }
    if (pass == 3) rig.keys.push_back(kKeyEscape);
  };
  const CaptureResult result = rig.runLoop();
  EXPECT_EQ(result.exitCode, ExitCode::Ok);
  EXPECT_FALSE(result.exitAtOnce);
  EXPECT_EQ(rig.passes, 3);
  EXPECT_EQ(rig.ring.available(), 88200u);
  // Passes 1 and 3 print; the stop prints once more after its wait, which
  // ends within one 20 ms step of the encoder's end.
  const std::string held = "Record: 0.0 kbytes (0:00:00), buffer free: 91.5%, CPU usage: 0.0%    \r";
  EXPECT_EQ(rig.status, (std::vector<std::string>{kEmptyStatus, held, held}));
  EXPECT_EQ(rig.sleeps, std::vector<int>{20});
  Log expected = kOpened;
  expected.insert(expected.end(), {"status", "prepare0", "add0", "status"});
  expected.insert(expected.end(), kClosed.begin(), kClosed.begin() + 3);
  expected.push_back("status");
  expected.insert(expected.end(), kClosed.begin() + 3, kClosed.end());
  EXPECT_EQ(rig.sound.log, expected);
  EXPECT_EQ(rig.keySessions, 1);
  EXPECT_FALSE(rig.keysOpen);
  // Not in split mode, no stop-file: neither is touched.
  EXPECT_EQ(rig.run.newFilePending.load(), 0u);
  EXPECT_EQ(rig.run.nextSplitName.get(), "");
  EXPECT_EQ(rig.files.existsCalls, 0);
  EXPECT_EQ(rig.text.err, "");
}

TEST(CaptureLoop, SplitModeMarksOnTheFirstPassAndAtEachNewHour) {
  LoopRig rig;
  rig.settings.splitMode = SplitMode::Weekly;
  rig.clock.time = LocalTime{23, 0, 14};  // Sunday 23:xx
  std::vector<std::pair<std::string, unsigned>> seen;
  rig.onPass = [&](int pass) {
    seen.emplace_back(rig.run.nextSplitName.get(), rig.run.newFilePending.exchange(0));
    if (pass == 2) rig.clock.time = LocalTime{0, 1, 15};  // midnight: Monday 00:xx
    if (pass == 4) rig.keys.push_back(kKeyEscape);
  };
  rig.runLoop();
  const std::vector<std::pair<std::string, unsigned>> expected = {
      {"su - 23.mp3", 1}, {"su - 23.mp3", 0}, {"mo - 00.mp3", 1}, {"mo - 00.mp3", 0}};
  EXPECT_EQ(seen, expected);
}

TEST(CaptureLoop, StopFileOrDirectoryOrStopSignalEndsTheRecording) {
  {
    LoopRig rig;
    rig.settings.stopFileName = "stop.flag";
    rig.onPass = [&](int pass) {
      if (pass == 2) rig.files.existing.insert("stop.flag");
    };
    EXPECT_EQ(rig.runLoop().exitCode, ExitCode::Ok);
    EXPECT_EQ(rig.passes, 2);
    EXPECT_EQ(rig.files.removed, std::vector<std::string>{"stop.flag"});
    EXPECT_TRUE(rig.files.existing.empty());
    EXPECT_EQ(rig.run.captureStopped.load(), 1u);
  }
  {
    LoopRig rig;
    rig.settings.stopFileName = "stopdir";
    rig.files.existing.insert("stopdir");
    rig.files.undeletable.insert("stopdir");
    EXPECT_EQ(rig.runLoop().exitCode, ExitCode::Ok);
    EXPECT_EQ(rig.passes, 1);
    EXPECT_EQ(rig.files.removed, std::vector<std::string>{"stopdir"});
  }
  {
    LoopRig rig;
    rig.onPass = [&](int pass) { rig.stopRequested = pass == 3; };
    const CaptureResult result = rig.runLoop();
    EXPECT_EQ(result.exitCode, ExitCode::Ok);
    EXPECT_EQ(rig.passes, 3);
    EXPECT_EQ(rig.afterStart().back(), "unprepare0");
  }
}

TEST(CaptureLoop, RequeueErrorPrintsTheTableTextAndStopsNothing) {
  LoopRig rig;
  rig.sound.addError = 7;
  rig.onPass = [&](int pass) {
    if (pass == 1) rig.sound.deliver(88200, 1);
  };
  const CaptureResult result = rig.runLoop();
  EXPECT_TRUE(result.exitAtOnce);
  EXPECT_EQ(result.exitCode, ExitCode::Error);
  EXPECT_EQ(rig.text.err, "\r\nMMSystem error: Unable to allocate or lock memory.\r\n");
  EXPECT_EQ(rig.afterStart(), (Log{"prepare0", "add0"}));  // no stop, reset, close
  EXPECT_EQ(rig.run.captureStopped.load(), 0u);
  EXPECT_EQ(rig.afterErrors, 1);
  EXPECT_FALSE(rig.keysOpenAtError);  // the terminal is back before the prompt
}

TEST(CaptureLoop, DrainingPrintsTheStatusEvery500msUntilTheEncoderIsDone) {
  LoopRig rig;
  rig.keys.push_back(kKeyEscape);
  // 20 ms steps: the encoder writes a block every 500 ms and ends 60 ms into
  // the third half-second; the last line follows at once.
  rig.onSleep = [&](int step) {
    rig.run.bytesWritten.store(16384u * static_cast<unsigned>((step + 24) / 25));
    if (step == 53) rig.run.encoderDone.store(1);
  };
  rig.runLoop();
  EXPECT_EQ(rig.sleeps, std::vector<int>(53, 20));
  const std::vector<std::string> expected = {
      kEmptyStatus,
      "Record: 16.0 kbytes (0:00:00), buffer free: 100.0%, CPU usage: 0.0%    \r",
      "Record: 32.0 kbytes (0:00:00), buffer free: 100.0%, CPU usage: 0.0%    \r",
      "Record: 48.0 kbytes (0:00:00), buffer free: 100.0%, CPU usage: 0.0%    \r"};
  EXPECT_EQ(rig.status, expected);
}

TEST(CaptureLoop, DeviceTrouble) {
  {
    // Lost: the reason is printed, the recording ends like ESC, code 3.
    LoopRig rig;
    rig.onPass = [&](int pass) {
      if (pass == 1) rig.sound.trouble->onDeviceLost("Input/output error");
    };
    const CaptureResult result = rig.runLoop();
    EXPECT_FALSE(result.exitAtOnce);
    EXPECT_EQ(result.exitCode, ExitCode::Error);
    EXPECT_EQ(rig.text.err, "\r\n* Error: the sound input stopped working (Input/output error).\r\n");
    EXPECT_EQ(rig.passes, 1);
    EXPECT_EQ(rig.run.captureStopped.load(), 1u);
    EXPECT_EQ(rig.afterStart(), kClosed);
    EXPECT_EQ(rig.afterErrors, 0);
  }
  {
    // Overruns: reported once per pass with the sound lost, and recording
    // goes on.
    LoopRig rig;
    rig.onPass = [&](int pass) {
      if (pass == 1) {
        rig.sound.trouble->onOverrun(250);
        rig.sound.trouble->onOverrun(100);
      }
      if (pass == 3) rig.keys.push_back(kKeyEscape);
    };
    const CaptureResult result = rig.runLoop();
    EXPECT_EQ(result.exitCode, ExitCode::Ok);
    EXPECT_EQ(rig.passes, 3);
    EXPECT_EQ(rig.text.err, "\r\n* Sound input overrun: about 350 ms of sound lost.\r\n");
  }
  {
    selectLanguage(Language::Russian);
    LoopRig rig;
    rig.onPass = [&](int pass) {
      if (pass == 1) rig.sound.trouble->onOverrun(40);
      if (pass == 2) rig.keys.push_back(kKeyEscape);
    };
    rig.runLoop();
    selectLanguage(Language::English);
    EXPECT_EQ(rig.text.err, "\r\n* Переполнение звукового входа: потеряно около 40 мс звука.\r\n");
  }
}

}  // namespace
}  // namespace vorta
