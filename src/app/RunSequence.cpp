// The main thread's path through a run.
//
// The command line is read first; then the encoder thread is started at its
// chosen priority, the main thread raises itself to the highest level and
// lends itself to the capture loop. When the capture loop returns, the
// encoder thread has finished (the capture loop waits for encoderDone), so
// the rings can go and the process ends with the run's code:
//   0 the recording ended normally (ESC, stop-file, time limit, a signal);
//   2 the encoder ended on a failure it reported (engine, file creation or
//     write): a failed recording is never reported as a success;
//   3 a device error, or the device stopped working during the recording.
// Command-line results (1 and 3) come from readSettings.
#include "app/RunSequence.h"

#include <memory>
#include <optional>

#include "capture/CaptureLoop.h"
#include "app/CommandLine.h"
#include "base/Messages.h"
#include "base/RunState.h"
#include "base/Settings.h"
#include "encode/EncoderThread.h"
#include "base/RingBuffer.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/Mp3Engine.h"
#include "platform/Process.h"
#include "platform/SoundInput.h"
#include "platform/Threads.h"

namespace vorta {
namespace {

// Linux counts as the NT line of the original platform split: it shows the
// CPU figure and lets the encoder adapt its own priority.
constexpr int kPlatformNt = 2;

// The encoder thread's starting level, or none when it keeps the level a new
// thread has. Resolves encoderBoost 0 on the consumer line, as before.
std::optional<PriorityLevel> encoderStartPriority(Settings& settings, int platformId) {
  if (settings.encoderBoost > 0) return PriorityLevel::AboveNormal;
  if (settings.encoderBoost < 0) return PriorityLevel::Normal;
  if (platformId == kPlatformNt) return std::nullopt;
  settings.encoderBoost = 1;
  return PriorityLevel::AboveNormal;
}

// Process-wide objects live until _exit: no destructor ever runs while
// another thread could still be using them.
Settings& processSettings() {
  static Settings* settings = new Settings;
  return *settings;
}

RunState& processRunState() {
  static RunState* run = new RunState;
  return *run;
}

}  // namespace

int runProgram(int argc, char** argv) {
  installTerminalSafeSignals();
  Settings& settings = processSettings();
  const CommandLineResult commandLine =
      readSettings(argc, argv, settings, systemClock(), physicalMemoryBytes());
  if (!commandLine.run) exitNow(commandLine.exitCode);

  RunState& run = processRunState();
  run.platformId = kPlatformNt;
  const std::optional<PriorityLevel> encoderPriority = encoderStartPriority(settings, run.platformId);

  auto pcmRing = std::make_unique<RingBuffer>(static_cast<std::uint32_t>(settings.bufferSize));
  auto mp3Ring = std::make_unique<RingBuffer>(kMp3RingBytes);
  leaveIdlePriorityClass();
  // From here on a signal ends the recording the way ESC does.
  installStopSignals();

  std::unique_ptr<Mp3Engine> engine = makeLameEngine();
  std::unique_ptr<SoundInput> sound = makeAlsaSoundInput();
  const EncoderContext encoder{settings, run,   *pcmRing,           *mp3Ring,
                               *engine,  systemFileSystem(), systemPriority()};
  setCurrentThreadPriority(PriorityLevel::Highest);
  auto encoderThread = std::make_unique<EncoderThread>(encoder, encoderPriority);
  sleepMs(100);

  const CaptureResult capture =
      runCaptureLoop(settings, run, *pcmRing, systemCapturePorts(*sound));
  if (capture.exitAtOnce) exitNow(capture.exitCode);

  say(Msg::EndOfRecording);
  while (run.encoderDone.load(std::memory_order_acquire) == 0) sleepMs(100);
  encoderThread.reset();  // joins: the thread has returned from its body
  mp3Ring.reset();
  pcmRing.reset();

  if (run.encoderFailed.load(std::memory_order_relaxed)) exitNow(2);
  exitNow(capture.exitCode);
}

}  // namespace vorta
