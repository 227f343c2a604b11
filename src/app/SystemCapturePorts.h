// The capture loop's real surroundings: the terminal's keys, the stop
// signals, the system clock and files, the service manager.
#pragma once

#include <string>

#include "capture/CaptureLoop.h"

namespace vorta {

class ServiceNotifier;
class SoundInput;
class TextOutput;

// deviceName: the sound input's device, named after a device error, which
// is said through `out`.
CapturePorts systemCapturePorts(SoundInput& sound, const ServiceNotifier& notifier,
                                const std::string& deviceName, const TextOutput& out);

}  // namespace vorta
