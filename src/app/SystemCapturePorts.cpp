#include "app/SystemCapturePorts.h"

#include <memory>

#include "app/ConsoleWriter.h"
#include "app/Help.h"
#include "platform/Clock.h"
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

}  // namespace

CapturePorts systemCapturePorts(SoundInput& sound, ConsoleWriter& console) {
  CapturePorts ports;
  ports.sound = &sound;
  ports.clock = &systemClock();
  ports.files = &systemFileSystem();
  ports.openKeys = [] { return std::unique_ptr<KeySource>(std::make_unique<TerminalKeys>()); };
  ports.stopRequested = [] { return stopSignalPending(); };
  ports.sleepMs = [](int milliseconds) { sleepMs(milliseconds); };
  // A user who already pressed Ctrl+C (or a service manager that sent
  // SIGTERM) has said they want out: no prompt that needs a second answer.
  ports.afterError = [] {
    if (isStdoutTerminal() && !stopSignalPending()) waitForEnter();
  };
  ports.writeStatus = [&console](const char* bytes, std::size_t length) {
    console.status(std::string_view(bytes, length));
  };
  // Read once: the service manager's socket does not change during a run.
  static const ServiceNotifier notifier = ServiceNotifier::fromEnvironment();
  ports.notifier = &notifier;
  return ports;
}

}  // namespace vorta
