// The main thread's path through a run: command line, start-up, recording,
// the end. Never returns: it ends the process with the run's code.
#pragma once

#include "base/Settings.h"

namespace vorta {

[[noreturn]] void runProgram(int argc, char** argv);

}  // namespace vorta
