// The program's own allocation functions (OutOfMemory.cpp, linked into the
// vorta executable only): when the system refuses memory, the user is told
// how many bytes were asked for and the process ends with code 3.
#pragma once

#include "base/Settings.h"

namespace vorta {

// The language of that text; English until the command line has been read.
// Main thread, before other threads start.
void sayOutOfMemoryIn(Language language);

}  // namespace vorta
