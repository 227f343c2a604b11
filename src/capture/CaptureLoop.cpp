// The capture loop, on the main thread.
//
// What it owns: the three half-second capture blocks (allocated, locked in
// memory, prepared and queued here, released here in reverse order), the
// capture callback and the trouble report that the device calls, the status
// line, the hour last seen in split mode, and, while recording, the key
// source (the terminal in raw mode).
//
// What it waits on: run.captureEvent, which the callback sets after every
// filled buffer and the trouble report sets when the device reports an
// overrun or its loss; at most 1000 ms, so keys, the stop-file, stop signals
// and the encoder's end are noticed within about a second even when the
// device delivers nothing. Each wake-up is one pass: hour check, re-queue of
// every block the device has handed back, device trouble, status line, ESC,
// stop-file, stop signal, encoder done.
//
// How it ends: ESC, the stop-file, a stop signal, the device's loss or the
// encoder's end leave the pass loop; then captureStopped is raised (from then
// on the callback drops every buffer), the device is stopped, reset and
// closed, and the status line keeps moving every 500 ms until the encoder
// has drained the ring and finished its file. A device error (no device, a
// refused open, a failed re-queue) instead prints its message and returns at
// once with exitAtOnce: the process ends with code 3 without stopping the
// device, so the blocks and the callback the device may still touch are
// deliberately never freed.
#include "capture/CaptureLoop.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "capture/CaptureCallback.h"
#include "base/Messages.h"
#include "base/RunState.h"
#include "base/Settings.h"
#include "base/RingBuffer.h"
#include "base/SplitName.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/SoundInput.h"
#include "platform/Terminal.h"

namespace vorta {
namespace {

constexpr int kBlockCount = 3;
constexpr int kPassWaitMs = 1000;
constexpr int kDrainStatusMs = 500;
constexpr int kDrainStepMs = 20;

// Trouble the sound input reports from its service thread, kept for the
// loop's next pass (which prints it on the main thread) and waking that pass.
class TroubleReport final : public SoundTroubleListener {
 public:
  explicit TroubleReport(Event& wake) : wake_(wake) {}

  void onOverrun(int lostMs) override {
    // Milliseconds first, then the count with release: a pass that sees the
    // count (acquire) also sees the milliseconds that came with it.
    lostMs_.fetch_add(lostMs > 0 ? lostMs : 0, std::memory_order_relaxed);
    overruns_.fetch_add(1, std::memory_order_release);
    wake_.set();
  }

  void onDeviceLost(const std::string& reason) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!lost_) reason_ = reason;
      lost_ = true;
    }
    wake_.set();
  }

  // Overruns since the last call: whether there were any, and the sound lost.
  bool takeOverruns(int& lostMs) {
    if (overruns_.exchange(0, std::memory_order_acquire) == 0) return false;
    lostMs = lostMs_.exchange(0, std::memory_order_relaxed);
    return true;
  }

  bool deviceLost(std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    reason = reason_;
    return lost_;
  }

 private:
  Event& wake_;
  std::atomic<int> overruns_{0};
  std::atomic<int> lostMs_{0};
  // The loss and its reason, set once by the service thread, read by the
  // loop: a string, so under the mutex.
  std::mutex mutex_;
  bool lost_ = false;
  std::string reason_;
};

// One capture block: allocated (through the program's allocation handler),
// locked in memory for its whole life, unlocked and freed with it.
class CaptureBlock {
 public:
  explicit CaptureBlock(std::uint32_t bytes) : data_(new std::uint8_t[bytes]), bytes_(bytes) {
    lockMemory(data_.get(), bytes_);
    buffer.data = data_.get();
    buffer.length = bytes_;
  }
  ~CaptureBlock() { unlockMemory(data_.get(), bytes_); }
  CaptureBlock(const CaptureBlock&) = delete;
  CaptureBlock& operator=(const CaptureBlock&) = delete;

  CaptureBuffer buffer;

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::uint32_t bytes_;
};

// What the open device may touch from its service thread.
struct LiveCapture {
  LiveCapture(RunState& run, const Settings& settings, RingBuffer& pcmRing)
      : callback(run, settings, pcmRing), trouble(run.captureEvent) {}
  CaptureCallback callback;
  TroubleReport trouble;
  std::array<std::unique_ptr<CaptureBlock>, kBlockCount> blocks;
};

enum class LoopEnd { Stopped, DeviceLost, DeviceError };

SoundFormat captureFormat(const Settings& settings) {
  SoundFormat format;
  format.channels = settings.channels();
  format.samplesPerSecond = settings.sampleRate;
  format.blockAlign = format.channels * 16 / 8;
  format.bytesPerSecond = format.blockAlign * format.samplesPerSecond;
  return format;
}

CaptureResult deviceError(const CapturePorts& ports) {
  if (ports.afterError) ports.afterError();
  return CaptureResult{true, ExitCode::Error};
}

// Everything the pass loop works with.
class Recorder {
 public:
  Recorder(const Settings& settings, RunState& run, LiveCapture& live, StatusLine& status,
           const CapturePorts& ports)
      : settings_(settings), run_(run), live_(live), status_(status), ports_(ports) {}

  LoopEnd run() {
    if (run_.encoderDone.load(std::memory_order_acquire) != 0) return LoopEnd::Stopped;
    // The terminal is raw only while this loop runs; the source's destructor
    // puts it back on every way out of here.
    std::unique_ptr<KeySource> keys = ports_.openKeys ? ports_.openKeys() : nullptr;
    for (;;) {
      run_.captureEvent.wait(kPassWaitMs);  // a time-out is an ordinary pass
      if (settings_.splitMode != SplitMode::None) watchHour();
      if (!requeue()) return LoopEnd::DeviceError;
      reportOverruns();
      if (deviceLost()) return LoopEnd::DeviceLost;
      statusToggle_ = !statusToggle_;
      if (statusToggle_) status_.print();  // every second pass, the first at once
      if (escapePressed(keys.get())) return LoopEnd::Stopped;
      if (stopFileFound()) return LoopEnd::Stopped;
      if (ports_.stopRequested && ports_.stopRequested()) return LoopEnd::Stopped;
      if (run_.encoderDone.load(std::memory_order_acquire) != 0) return LoopEnd::Stopped;
    }
  }

 private:
  // A new clock hour starts a new file: the name first, then the request
  // (release), so the encoder that crosses the mark reads the whole new name.
  void watchHour() {
    const LocalTime now = ports_.clock->localTime();
    if (now.hour == lastHour_) return;
    run_.nextSplitName.set(makeSplitName(settings_.splitMode, now));
    run_.newFilePending.store(1, std::memory_order_release);
    lastHour_ = now.hour;
  }

  bool requeue() {
    for (auto& block : live_.blocks) {
      CaptureBuffer& buffer = block->buffer;
      // Acquire pairs with the service's release: its bytes are complete
      // and the callback is done with them.
      if (!buffer.done.load(std::memory_order_acquire)) continue;
      int code = ports_.sound->prepare(buffer);
      if (code == 0) code = ports_.sound->add(buffer);
      if (code != 0) {
        say(Msg::DeviceQueueError, deviceErrorText(code));
        return false;
      }
    }
    return true;
  }

  void reportOverruns() {
    int lostMs = 0;
    if (live_.trouble.takeOverruns(lostMs)) say(Msg::Overrun, lostMs);
  }

  bool deviceLost() {
    std::string reason;
    if (!live_.trouble.deviceLost(reason)) return false;
    say(Msg::DeviceLost, reason.c_str());
    return true;
  }

  // Any other key is read and ignored.
  static bool escapePressed(KeySource* keys) {
    if (!keys || !keys->keyWaiting()) return false;
    return keys->readKey() == kKeyEscape;
  }

  // A file or a directory of that name ends the recording; deleting it may
  // fail (a directory) and is not checked.
  bool stopFileFound() {
    const std::string& name = settings_.stopFileName;
    if (name.empty() || !ports_.files->exists(name)) return false;
    ports_.files->remove(name);
    return true;
  }

  const Settings& settings_;
  RunState& run_;
  LiveCapture& live_;
  StatusLine& status_;
  const CapturePorts& ports_;
  int lastHour_ = -1;  // -1: the first pass in split mode always marks
  bool statusToggle_ = false;
};

void queueBlocks(SoundInput& sound, LiveCapture& live, std::uint32_t blockBytes) {
  for (auto& block : live.blocks) {
    block = std::make_unique<CaptureBlock>(blockBytes);
    sound.prepare(block->buffer);  // results checked at the re-queue only
    sound.add(block->buffer);
  }
}

bool encoderDone(const RunState& run) {
  // Acquire pairs with the encoder entry's release increment: once it is
  // seen, the file is finished and the rings are no longer touched.
  return run.encoderDone.load(std::memory_order_acquire) != 0;
}

// Sleeps for up to `ms` while the encoder drains, in short steps, so that the
// program ends within a step of the encoder's end rather than up to half a
// second later; the status line keeps its half-second cadence.
void sleepUntilEncoderDone(const RunState& run, const CapturePorts& ports, int ms) {
  for (int slept = 0; slept < ms && !encoderDone(run); slept += kDrainStepMs)
    ports.sleepMs(kDrainStepMs);
}

void stopAndDrain(RunState& run, SoundInput& sound, StatusLine& status,
                  const CapturePorts& ports) {
  // Release: the callback and the encoder that see the stop also see
  // everything done before it.
  run.captureStopped.fetch_add(1, std::memory_order_release);
  sound.stop();
  sound.reset();  // hands back every block; the callback drops them
  sound.close();
  while (!encoderDone(run)) {
    sleepUntilEncoderDone(run, ports, kDrainStatusMs);
    status.print();
  }
}

void releaseBlocks(SoundInput& sound, LiveCapture& live) {
  for (int i = kBlockCount - 1; i >= 0; --i) {
    if (!live.blocks[i]) continue;
    sound.unprepare(live.blocks[i]->buffer);
    live.blocks[i].reset();
  }
}

}  // namespace

CaptureResult runCaptureLoop(const Settings& settings, RunState& run, RingBuffer& pcmRing,
                             const CapturePorts& ports) {
  SoundInput& sound = *ports.sound;
  if (sound.deviceCount() < 1) {
    say(Msg::NoDevice);
    return deviceError(ports);
  }

  StatusLine status(run, pcmRing, *ports.clock, ports.writeStatus);
  status.prepare();

  const SoundFormat format = captureFormat(settings);
  run.captureBytesPerSecond.store(format.bytesPerSecond, std::memory_order_relaxed);
  auto live = std::make_unique<LiveCapture>(run, settings, pcmRing);
  const int code = sound.open(format, live->callback, &live->trouble);
  if (code != 0) {
    say(Msg::DeviceOpenError, sound.errorText(code).c_str());
    return deviceError(ports);
  }

  queueBlocks(sound, *live, static_cast<std::uint32_t>(format.bytesPerSecond / 2));
  sound.start();

  const LoopEnd end = Recorder(settings, run, *live, status, ports).run();
  if (end == LoopEnd::DeviceError) {
    // The device is still running and may write into the blocks and call
    // the callback until the process ends, which the caller does at once.
    static_cast<void>(live.release());
    return deviceError(ports);
  }

  stopAndDrain(run, sound, status, ports);
  releaseBlocks(sound, *live);
  return CaptureResult{false, end == LoopEnd::DeviceLost ? ExitCode::Error : ExitCode::Ok};
}

}  // namespace vorta
