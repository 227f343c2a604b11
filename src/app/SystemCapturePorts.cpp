#include "app/SystemCapturePorts.h"

#include <memory>

#include "app/Help.h"
#include "base/Messages.h"
#include "base/TextOutput.h"
#include "platform/Clock.h"
#include "platform/ClockHealth.h"
#include "platform/Files.h"
#include "platform/Notify.h"
#include "platform/Process.h"
#include "platform/Terminal.h"
#include "platform/Threads.h"

namespace vorta {
namespace {

// Keys from the controlling terminal, raw for as long as this object lives.
class TerminalKeys final : public KeySource {
 public:
  bool keyWaiting() override { return session_.keyWaiting(); }
  int readKey() override { return session_.readKey(0); }

 private:
  KeyboardSession session_;
};

// Says which device failed and where the others are listed. A raw hw:
// device takes only its own formats; its plughw: twin converts.
void nameTheDevice(const TextOutput& out, const std::string& device, const Error* openError) {
  out.say(Msg::DeviceTried, device);
  if (openError && openError->kind == ErrorKind::RawDevice)
    out.say(Msg::DevicePlugHint, device.substr(2));
}

}  // namespace

CapturePorts systemCapturePorts(SoundInput& sound, const ServiceNotifier& notifier,
                                const std::string& deviceName, const TextOutput& out) {
  CapturePorts ports;
  ports.sound = &sound;
  ports.clock = &systemClock();
  ports.files = &systemFileSystem();
  ports.openKeys = [] { return std::unique_ptr<KeySource>(std::make_unique<TerminalKeys>()); };
  ports.stopRequested = [] { return stopSignalPending(); };
  ports.sleepMs = [](int milliseconds) { sleepMs(milliseconds); };
  // A user who already pressed Ctrl+C (or a service manager that sent
  // SIGTERM) has said they want out: no prompt that needs a second answer.
  ports.afterError = [deviceName, out](const Error* openError) {
    nameTheDevice(out, deviceName, openError);
    if (isStdoutTerminal() && !stopSignalPending()) waitForEnter(out);
  };
  ports.notifier = &notifier;
  ports.clockSync = clockSync;
  return ports;
}

}  // namespace vorta
