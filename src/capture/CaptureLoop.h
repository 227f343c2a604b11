// The capture loop: watches a recording from the main thread until it ends,
// then drains. See CaptureLoop.cpp for the design.
#pragma once

#include <functional>
#include <memory>

#include "base/Settings.h"
#include "base/RunEvents.h"
#include "platform/ClockHealth.h"
#include "platform/Result.h"

namespace vorta {

struct RunState;
class RingBuffer;
class SoundInput;
class Clock;
class FileSystem;
class ServiceNotifier;
class Reporter;

// Keys while recording. The program's source wraps a KeyboardSession, which
// holds the terminal in raw mode for as long as the source lives.
class KeySource {
 public:
  virtual ~KeySource() = default;
  virtual bool keyWaiting() = 0;
  // One key without echo, 27 for ESC; kKeyNone (-1) when none came.
  virtual int readKey() = 0;
};

// Everything the loop reaches outside the process's memory, so that tests
// can stand in for each.
struct CapturePorts {
  SoundInput* sound = nullptr;
  Clock* clock = nullptr;
  FileSystem* files = nullptr;
  // Opened when the recording loop starts, destroyed when it ends.
  std::function<std::unique_ptr<KeySource>()> openKeys;
  // SIGINT, SIGTERM or SIGHUP asked for the end (ends the run like ESC).
  std::function<bool()> stopRequested;
  std::function<void(int milliseconds)> sleepMs;
  // After a device error has been reported: what the device was, and the
  // Enter prompt when standard output is a terminal. openError is null when
  // there was no device to open.
  std::function<void(const Error* openError)> afterError;
  // The service manager to tell how the recording goes; nullptr: none.
  const ServiceNotifier* notifier = nullptr;
  // Whether the system keeps the clock in step; empty: the clock is not watched.
  std::function<ClockSync()> clockSync = {};
};

// How the loop ended; app/ picks the process's exit code from it.
enum class CaptureEnd {
  // The device could not be opened or started; nothing of it is left
  // running, and the encoder has not been waited for.
  DeviceFailed,
  // The recording ended (ESC, the stop-file, a signal, the encoder's own
  // end) and the encoder has finished.
  Stopped,
  // The device stopped working mid-run; the encoder has finished.
  InputLost,
};

struct CaptureResult {
  CaptureEnd end = CaptureEnd::Stopped;
  // What the run lost, final once the loop has returned.
  RunTotals totals;
};

// Runs on the main thread after the encoder thread has started. Returns
// after run.encoderDone is set, or at once with DeviceFailed after a device
// error. Everything it notices (status ticks, overruns, buffer overflows,
// dead air, the input's loss, device errors) is posted to `reporter`.
CaptureResult runCaptureLoop(const Settings& settings, RunState& run, RingBuffer& pcmRing,
                             const CapturePorts& ports, const Reporter& reporter);

}  // namespace vorta
