// The main thread's path through a run.
//
// The command line is read first; then the run's report starts (the console
// thread takes over every text, so no console write can hold up the
// recording; every event of the run goes to its reporter), the encoder thread is
// started at its level (normal, or one above with -a), the main thread
// raises itself to the highest level and lends itself to the capture loop.
// The capture loop returns only once the encoder thread has finished (it
// waits for encoderDone), so the thread is joined, the run's end is posted,
// the rings go, the console writes what it still holds and the process ends
// with the run's code (see ExitCode).
#include "app/RunSequence.h"

#include <memory>
#include <string>
#include <vector>

#include "app/OutOfMemory.h"
#include "app/RunReport.h"
#include "app/StartUp.h"
#include "app/SystemCapturePorts.h"
#include "base/Messages.h"
#include "base/RingBuffer.h"
#include "base/RunState.h"
#include "base/UtcClock.h"
#include "capture/CaptureLoop.h"
#include "encode/EncoderThread.h"
#include "encode/RetentionThread.h"
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

// Flushes standard output and error, puts the terminal back and ends the
// process at once: no static destructor runs while other threads may. The
// run's report writes what it holds first; a second stop signal does not
// wait for a console that stays blocked.
[[noreturn]] void exitWith(RunReport& report, const RunState& run, ExitCode code) {
  report.finish([&run] { return run.endAtOnce.load(); });
  exitNow(static_cast<int>(code));
}

}  // namespace

void runProgram(int argc, char** argv) {
  // Before anything is opened, so nothing opened can become fd 0, 1 or 2.
  openMissingStandardDescriptors();
  installTerminalSafeSignals();
  const StartUp start = startUp(commandLineWords(argc, argv), systemClock(), physicalMemoryBytes());
  sayOutOfMemoryIn(start.text.language());
  if (const ExitCode* code = std::get_if<ExitCode>(&start.outcome)) exitNow(static_cast<int>(*code));
  // What the run's threads share is never destroyed: the process ends around
  // it, with threads that may still be using it (exitNow).
  const Settings& settings = *new Settings(std::get<Settings>(start.outcome));
  RunState& run = *new RunState;
  auto pcmRing = std::make_unique<RingBuffer>(static_cast<std::uint32_t>(settings.bufferSize));
  const ThreadPriorities priorities = leaveIdlePriorityClass();
  // From here on a signal ends the recording the way ESC does.
  installStopSignals(&run.endAtOnce);

  std::unique_ptr<Mp3Engine> engine = makeLameEngine();
  std::unique_ptr<SoundInput> sound = makeSystemSoundInput(settings.device.c_str(), priorities);
  RunReport& report = *new RunReport(settings, start.text, systemClock());
  const Reporter& reporter = report.reporter();
  // The clock that names the files and tells the hours: local time, or UTC.
  Clock& clock = settings.utc ? *new UtcClock(systemClock()) : systemClock();
  // Shared by the encoder and retention threads, which may outlive a run
  // that ends at once: never destroyed.
  FilesInUse* inUse = wantsRetention(settings) ? new FilesInUse : nullptr;
  // Never destroyed either: the encoder thread may outlive a run that ends
  // at once.
  SystemPriority& encoderPriority = *new SystemPriority(priorities);
  const EncoderContext encoder{settings, run,   *pcmRing,        *engine,  systemFileSystem(),
                               clock,    encoderPriority, reporter, inUse};
  priorities.setCurrent(PriorityLevel::Highest);
  // The encoder's level is always set explicitly: a new thread would
  // otherwise inherit the main thread's raised one.
  auto encoderThread = std::make_unique<EncoderThread>(
      encoder, settings.raiseEncoderPriority ? PriorityLevel::AboveNormal : PriorityLevel::Normal);
  std::unique_ptr<RetentionThread> retention;
  if (inUse)
    retention = std::make_unique<RetentionThread>(systemFileSystem(), settings, clock, *inUse,
                                                  reporter, priorities);

  CapturePorts ports = systemCapturePorts(*sound, report.notifier(),
                                          soundDeviceName(settings.device.c_str()), report.text());
  ports.clock = &clock;
  const CaptureResult capture = runCaptureLoop(settings, run, *pcmRing, ports, reporter);
  retention.reset();  // stops and joins it: the recording is over
  if (capture.end == CaptureEnd::DeviceFailed) {
    reporter.post(event::RunEnded{ExitCode::Error, false, capture.totals});
    exitWith(report, run, ExitCode::Error);
  }

  encoderThread.reset();  // joins: the capture loop saw encoderDone
  const ExitCode code = run.encoderFailed.load(std::memory_order_relaxed) ? ExitCode::EncoderFailed
                        : capture.end == CaptureEnd::InputLost           ? ExitCode::Error
                                                                         : ExitCode::Ok;
  reporter.post(event::RunEnded{code, true, capture.totals});
  pcmRing.reset();
  exitWith(report, run, code);
}

}  // namespace vorta
