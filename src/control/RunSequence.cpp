#include "control/RunSequence.h"

#include "control/CommandLine.h"
#include "control/Settings.h"
#include "platform/Clock.h"
#include "platform/Memory.h"
#include "platform/Process.h"

namespace vorta {

int runProgram(int argc, char** argv) {
  installTerminalSafeSignals();
  Settings settings;
  const CommandLineResult result =
      readSettings(argc, argv, settings, systemClock(), physicalMemoryBytes());
  if (!result.run) exitNow(result.exitCode);
  exitNow(0);
}

}  // namespace vorta
