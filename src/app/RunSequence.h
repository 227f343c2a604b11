// The main thread's path through a run: command line, start-up, recording,
// the end. Never returns: it ends the process with the run's code.
#pragma once

#include "base/Settings.h"

namespace vorta {

[[noreturn]] void runProgram(int argc, char** argv);

// Flushes standard output and error, puts the terminal back and ends the
// process at once: no static destructor runs while other threads may.
[[noreturn]] void exitWith(ExitCode code);

}  // namespace vorta
