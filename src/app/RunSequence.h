// The main thread's path through a run: command line, start-up, recording,
// the end. Never returns normally: it ends the process with the run's code.
#pragma once

namespace vorta {

[[noreturn]] int runProgram(int argc, char** argv);

}  // namespace vorta
