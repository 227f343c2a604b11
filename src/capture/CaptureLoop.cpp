// The capture loop, on the main thread. It is not on the data path: the
// sound input hands every block to the capture callback on the input's own
// thread, so a blocked terminal write or a slow stop-file test here never
// holds capture up.
//
// What it owns: the capture callback (which the open input calls), the
// status line's readings, the split name last asked for, the counts of the
// overruns and buffer overflows it has reported, and, while recording, the
// key source (the terminal in raw mode). Everything it notices is posted to
// the reporter from this thread.
//
// What it waits on: run.captureEvent, which the callback sets when the input
// reports trouble; at most 500 ms, so keys, the stop-file, stop signals and
// the encoder's end are noticed within half a second. Each wake-up is one
// pass: the clock's health, split check, the input's trouble, dead air, status
// line (every second pass), ESC, stop-file, stop signal, encoder done.
//
// How it ends: ESC, the stop-file, a stop signal, the input's loss or the
// encoder's end leave the pass loop; the input is stopped (it hands over the
// sound up to that moment), then captureStopped is raised (from then on the
// encoder drains the ring and finishes its file), the input is closed, and
// the status line keeps moving every 500 ms until the encoder is done. A
// device that cannot be opened or started ends the run at once with code 3.
#include "capture/CaptureLoop.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/Reporter.h"
#include "base/RingBuffer.h"
#include "base/RunState.h"
#include "base/Settings.h"
#include "base/SplitName.h"
#include "capture/CaptureCallback.h"
#include "capture/ServiceHeartbeat.h"
#include "monitor/ClockWatch.h"
#include "monitor/StatusLine.h"
#include "platform/Notify.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/SoundInput.h"
#include "platform/Terminal.h"

namespace vorta {
namespace {

constexpr std::chrono::milliseconds kPassWait{500};
constexpr int kDrainStatusMs = 500;
constexpr int kDrainStepMs = 20;

enum class LoopEnd { Stopped, InputLost };

SoundFormat captureFormat(const Settings& settings) {
  SoundFormat format;
  format.channels = settings.channels();
  format.samplesPerSecond = settings.sampleRate;
  return format;
}

CaptureResult deviceError(const CapturePorts& ports, const Error* openError = nullptr) {
  if (ports.afterError) ports.afterError(openError);
  return CaptureResult{CaptureEnd::DeviceFailed, {}};
}

bool encoderDone(const RunState& run) {
  // Acquire pairs with the encoder entry's release increment: once it is
  // seen, the file is finished and the rings are no longer touched.
  return run.encoderDone.load(std::memory_order_acquire) != 0;
}

// Everything the pass loop works with.
class Recorder {
 public:
  Recorder(const Settings& settings, RunState& run, CaptureCallback& callback, StatusLine& status,
           ServiceHeartbeat& heartbeat, const CapturePorts& ports, const Reporter& reporter)
      : settings_(settings),
        run_(run),
        callback_(callback),
        status_(status),
        heartbeat_(heartbeat),
        ports_(ports),
        reporter_(reporter),
        lastAsked_(settings.outputName) {
    if (ports.clockSync) clockWatch_.emplace(*ports.clock, ports.clockSync, reporter);
  }

  LoopEnd run() {
    if (encoderDone(run_)) return LoopEnd::Stopped;
    // The terminal is raw only while this loop runs; the source's destructor
    // puts it back on every way out of here.
    std::unique_ptr<KeySource> keys = ports_.openKeys ? ports_.openKeys() : nullptr;
    for (;;) {
      run_.captureEvent.wait(kPassWait);  // a time-out is an ordinary pass
      if (clockWatch_) clockWatch_->pass();
      if (settings_.splitMode != SplitMode::None) checkSplit();
      const std::uint64_t blocks = callback_.blocksTaken();
      heartbeat_.pass(blocks != blocksSeen_);
      blocksSeen_ = blocks;
      reportOverruns();
      reportOverflows();
      reportDeadAir();
      if (inputLost()) return LoopEnd::InputLost;
      statusToggle_ = !statusToggle_;
      if (statusToggle_) printStatus();  // every second pass, the first at once
      if (escapePressed(keys.get())) return LoopEnd::Stopped;
      if (stopFileFound()) return LoopEnd::Stopped;
      if (ports_.stopRequested && ports_.stopRequested()) return LoopEnd::Stopped;
      if (encoderDone(run_)) return LoopEnd::Stopped;
    }
  }

 private:
  // A new file starts whenever the name the clock gives now differs from the
  // one last asked for, in either direction: a clock stepped back or a new
  // day with the same hour is a new name too. The request carries the moment
  // (never 0, which means none), from which the encoder names the file.
  void checkSplit() {
    const WallSeconds moment = ports_.clock->wallNow();
    const std::int64_t now = moment.time_since_epoch().count();
    std::string name = splitFileName(settings_, ports_.clock->localTime(moment));
    if (name == lastAsked_) return;
    lastAsked_ = std::move(name);
    run_.splitRequest.store(now != 0 ? now : 1, std::memory_order_relaxed);
  }

  void reportOverruns() {
    const std::optional<int> lostMs = callback_.takeOverrunMs();
    if (!lostMs) return;
    ++totals_.overruns;
    totals_.overrunMs += static_cast<std::uint64_t>(*lostMs > 0 ? *lostMs : 0);
    reporter_.post(event::Overrun{*lostMs});
  }

  // One event for each block the full ring refused.
  void reportOverflows() {
    for (const std::uint32_t now = callback_.bufferOverflows(); totals_.bufferOverflows != now;) {
      ++totals_.bufferOverflows;
      reporter_.post(event::BufferOverflow{});
    }
  }

  // The input thread only counts; the events are posted here.
  void reportDeadAir() {
    if (settings_.deadAirMs == 0) return;
    const std::uint32_t begun = callback_.deadAirBegun();
    if (begun != reportedBegun_) reporter_.post(event::DeadAirBegan{settings_.deadAirMs});
    reportedBegun_ = begun;
    const std::uint32_t ended = callback_.deadAirEnded();  // before its duration
    if (ended == reportedEnded_) return;
    reportedEnded_ = ended;
    const std::int64_t lasted = callback_.lastDeadAirMs();
    totals_.deadAirMs += lasted;
    reporter_.post(event::DeadAirEnded{lasted});
  }

  bool inputLost() {
    std::optional<std::string> reason = callback_.lostReason();
    if (!reason) return false;
    reporter_.post(event::InputLost{std::move(*reason)});
    return true;
  }

 public:
  void printStatus() { reporter_.post(event::StatusTick{status_.sample(totals())}); }

  // The losses so far: the loop's own counts and the callback's dead air
  // (while recording, the stretches that have ended; once the input is
  // closed, `final`, every stretch, one still under way included).
  RunTotals totals(bool final = false) const {
    RunTotals t = totals_;
    t.deadAirTimes = callback_.deadAirBegun();
    t.deadAirNow = t.deadAirTimes != callback_.deadAirEnded();
    if (final) t.deadAirMs = callback_.deadAirTotalMs();
    return t;
  }

 private:
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
  CaptureCallback& callback_;
  StatusLine& status_;
  ServiceHeartbeat& heartbeat_;
  const CapturePorts& ports_;
  const Reporter& reporter_;
  RunTotals totals_;  // overruns, overflows and ended dead air reported so far
  std::uint64_t blocksSeen_ = 0;  // blocks the input had handed over at the last pass
  std::string lastAsked_;  // the file the encoder writes, or the last one asked for
  bool statusToggle_ = false;
  std::uint32_t reportedBegun_ = 0;
  std::uint32_t reportedEnded_ = 0;
  std::optional<ClockWatch> clockWatch_;
};

// Sleeps for up to `ms` while the encoder drains, in short steps, so that the
// program ends within a step of the encoder's end rather than up to half a
// second later; the status line keeps its half-second cadence.
void sleepUntilEncoderDone(const RunState& run, const CapturePorts& ports, int ms) {
  for (int slept = 0; slept < ms && !encoderDone(run); slept += kDrainStepMs)
    ports.sleepMs(kDrainStepMs);
}

void stopAndDrain(RunState& run, SoundInput& sound, Recorder& recorder, const CapturePorts& ports) {
  sound.stop();  // the last block, up to this moment, is in the ring now
  // Release: the encoder that sees the stop also sees that last block.
  run.captureStopped.fetch_add(1, std::memory_order_release);
  sound.close();
  run.encoderEvent.close();
  run.captureEvent.close();
  while (!encoderDone(run)) {
    sleepUntilEncoderDone(run, ports, kDrainStatusMs);
    recorder.printStatus();
  }
}

}  // namespace

CaptureResult runCaptureLoop(const Settings& settings, RunState& run, RingBuffer& pcmRing,
                             const CapturePorts& ports, const Reporter& reporter) {
  SoundInput& sound = *ports.sound;
  if (!sound.devicePresent()) {
    reporter.post(event::Error{event::Failure::NoDevice, {}, 0});
    return deviceError(ports);
  }

  const ServiceNotifier nobody;  // no service manager to tell
  const ServiceNotifier& notifier = ports.notifier ? *ports.notifier : nobody;
  StatusLine status(run, pcmRing, *ports.clock);
  if (settings.meter) status.showMeter(settings.channels());
  status.start();
  ServiceHeartbeat heartbeat(notifier, *ports.clock);

  // Both events start signalled: the first pass follows the start at once.
  run.captureEvent.open();
  run.encoderEvent.open();
  CaptureCallback callback(run, settings, pcmRing, ports.clock);
  Status started = sound.open(captureFormat(settings), callback);
  if (started.ok()) started = sound.start();
  if (!started.ok()) {
    sound.close();
    reporter.post(event::Error{event::Failure::DeviceOpen, started.error().text, 0});
    return deviceError(ports, &started.error());
  }

  Recorder recorder(settings, run, callback, status, heartbeat, ports, reporter);
  const LoopEnd end = recorder.run();
  heartbeat.stopping();
  stopAndDrain(run, sound, recorder, ports);
  reporter.post(event::RecordingStopped{});
  const RunTotals totals = recorder.totals(true);  // the input is closed
  if (settings.deadAirMs != 0)
    reporter.post(event::DeadAirSummary{totals.deadAirMs, totals.deadAirTimes});
  return CaptureResult{end == LoopEnd::InputLost ? CaptureEnd::InputLost : CaptureEnd::Stopped, totals};
}

}  // namespace vorta
