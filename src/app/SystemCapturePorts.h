// The capture loop's real surroundings: the terminal's keys, the stop
// signals, the system clock and files, the status line through the console
// thread to file handle 2.
#pragma once

#include <string>

#include "capture/CaptureLoop.h"

namespace vorta {

class ConsoleWriter;
class SoundInput;

// deviceName: the sound input's device, named after a device error.
CapturePorts systemCapturePorts(SoundInput& sound, ConsoleWriter& console,
                                const std::string& deviceName);

}  // namespace vorta
