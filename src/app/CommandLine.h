// Reading the command line into Settings: language, banner, options, derived
// values, compatibility checks and the run summary.
//
// Main thread, before any other thread starts. Prints through the message
// catalogue. Instead of ending the process itself it returns what the
// process must do, so that it can be tested in-process.
#pragma once

#include <cstdint>

#include "base/Settings.h"

namespace vorta {

class Clock;

struct CommandLineResult {
  bool run = false;  // true: start recording; false: end with exitCode
  int exitCode = 0;
};

// argv[0] is the program's path; physicalMemory is the platform's 32-bit
// figure; the clock gives the local time for the first split name.
CommandLineResult readSettings(int argc, const char* const* argv, Settings& settings,
                               Clock& clock, std::uint32_t physicalMemory);

// -d value to samples per second; sets mpegVersion. False when invalid.
bool normaliseSampleRate(int value, Settings& settings);

}  // namespace vorta
