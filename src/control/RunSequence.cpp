#include "control/RunSequence.h"

#include "platform/Process.h"

namespace vorta {

int runProgram(int, char**) { exitNow(0); }

}  // namespace vorta
