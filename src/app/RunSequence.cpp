// The main thread's path through a run.
//
// The command line is read first; then the console thread takes over every
// text (so no console write can hold up the recording), the encoder thread is
// started at its level (normal, or one above with -a), the main thread
// raises itself to the highest level and lends itself to the capture loop.
// The capture loop returns only once the encoder thread has finished (it
// waits for encoderDone), so the thread is joined, the rings go, the console
// writes what it still holds and the process ends with the run's code (see
// ExitCode).
#include "app/RunSequence.h"

#include <memory>
#include <string>
#include <vector>

#include "app/StartUp.h"
#include "app/ConsoleWriter.h"
#include "app/SystemCapturePorts.h"
#include "base/HoursMinutesSeconds.h"
#include "base/Losses.h"
#include "base/Messages.h"
#include "base/RingBuffer.h"
#include "base/RunState.h"
#include "capture/CaptureLoop.h"
#include "encode/EncoderThread.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/Mp3Engine.h"
#include "platform/Process.h"
#include "platform/SoundInput.h"
#include "platform/Terminal.h"
#include "platform/Threads.h"

namespace vorta {
namespace {

// Process-wide objects live until the process ends: no destructor ever runs
// while another thread could still be using them.
Settings& processSettings() {
  static Settings* settings = new Settings;
  return *settings;
}

RunState& processRunState() {
  static RunState* run = new RunState;
  return *run;
}

// The console thread from the start of the recording on; main thread only.
ConsoleWriter* gConsole = nullptr;

ConsoleWriter& startConsole() {
  // Never destroyed: the process ends around it.
  gConsole = new ConsoleWriter({writeToStream, [](std::string_view line) {
                                  writeRawStderr(line.data(), line.size());
                                }});
  return *gConsole;
}

}  // namespace

void exitWith(ExitCode code) {
  // A second stop signal does not wait for a console that stays blocked.
  if (gConsole) gConsole->finish([] { return processRunState().endAtOnce.load(); });
  exitNow(static_cast<int>(code));
}

void runProgram(int argc, char** argv) {
  // Before anything is opened, so nothing opened can become fd 0, 1 or 2.
  openMissingStandardDescriptors();
  installTerminalSafeSignals();
  const StartUp start = startUp(commandLineWords(argc, argv), systemClock(), physicalMemoryBytes());
  if (const ExitCode* code = std::get_if<ExitCode>(&start)) exitWith(*code);
  Settings& settings = processSettings();
  settings = std::get<Settings>(start);

  RunState& run = processRunState();
  auto pcmRing = std::make_unique<RingBuffer>(static_cast<std::uint32_t>(settings.bufferSize));
  leaveIdlePriorityClass();
  // From here on a signal ends the recording the way ESC does.
  installStopSignals(&run.endAtOnce);

  std::unique_ptr<Mp3Engine> engine = makeLameEngine();
  std::unique_ptr<SoundInput> sound = makeSystemSoundInput(settings.device.c_str());
  const EncoderContext encoder{settings,           run,           *pcmRing,       *engine,
                               systemFileSystem(), systemClock(), systemPriority()};
  ConsoleWriter& console = startConsole();
  setTextSink(&console);  // before any other thread can write a text
  setCurrentThreadPriority(PriorityLevel::Highest);
  // The encoder's level is always set explicitly: a new thread would
  // otherwise inherit the main thread's raised one.
  auto encoderThread = std::make_unique<EncoderThread>(
      encoder, settings.raiseEncoderPriority ? PriorityLevel::AboveNormal : PriorityLevel::Normal);

  const CaptureResult capture =
      runCaptureLoop(settings, run, *pcmRing,
                     systemCapturePorts(*sound, console, soundDeviceName(settings.device.c_str())));
  if (capture.exitAtOnce) exitWith(capture.exitCode);

  say(Msg::EndOfRecording);
  encoderThread.reset();  // joins: the capture loop saw encoderDone
  if (settings.logLines) {
    const Losses l = lossesSoFar();
    const auto overrunMs = static_cast<unsigned long long>(l.overrunMs);
    const HoursMinutesSeconds deadAir = splitHours(std::chrono::seconds(l.deadAirSeconds));
    if (settings.deadAirMs == 0)
      say(Msg::LogLosses, l.overruns, overrunMs, l.bufferOverflows);
    else
      say(Msg::LogLossesDeadAir, l.overruns, overrunMs, l.bufferOverflows,
          static_cast<int>(deadAir.hours), deadAir.minutes, deadAir.seconds, l.deadAirTimes);
  }
  pcmRing.reset();

  if (run.encoderFailed.load(std::memory_order_relaxed)) exitWith(ExitCode::EncoderFailed);
  exitWith(capture.exitCode);
}

}  // namespace vorta
