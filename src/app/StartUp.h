// From the command line to a run: the banner, then what the command line
// asks for (the help, the version, the device list, a refusal with its
// text), or the settings to record with, every open value derived and the
// summary printed.
//
// Main thread, before any other thread starts. Prints through the message
// catalogue, in the language and the mode the command line chose, and may
// wait for Enter on a terminal; never ends the process, so that it can be
// tested in-process.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include "base/Settings.h"
#include "base/TextOutput.h"

namespace vorta {

class Clock;

struct StartUp {
  // How the run's texts are written, as the command line chose (the sink
  // given to startUp).
  TextOutput text;
  // The settings to record with, or the code the process ends with.
  std::variant<Settings, ExitCode> outcome;
};

// words[0] is the program's path; physicalMemory is the machine's total in
// bytes; the clock gives the local time for the first split name. The texts
// go to `sink`, or to standard output and error when it is nullptr.
StartUp startUp(std::span<const std::string> words, Clock& clock, std::uint64_t physicalMemory,
                TextSink* sink = nullptr);

// The working buffer when -f does not give one: a twentieth of physical
// memory counted up to 4294967295 bytes, halved again for mono, at least
// 262144 bytes.
std::int32_t defaultBufferSize(std::uint64_t physicalMemory, ChannelMode mode);

}  // namespace vorta
