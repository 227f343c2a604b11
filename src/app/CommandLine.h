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
  ExitCode exitCode = ExitCode::Ok;
};

// argv[0] is the program's path; physicalMemory is the machine's total in
// bytes; the clock gives the local time for the first split name. `settings`
// starts as a default Settings.
CommandLineResult readSettings(int argc, const char* const* argv, Settings& settings,
                               Clock& clock, std::uint64_t physicalMemory);

// -d value to samples per second; sets mpegVersion. False when invalid.
bool normaliseSampleRate(int value, Settings& settings);

// The working buffer when -f does not give one: a twentieth of physical
// memory counted up to 4294967295 bytes, halved again for mono, at least
// 262144 bytes.
std::int32_t defaultBufferSize(std::uint64_t physicalMemory, ChannelMode mode);

}  // namespace vorta
