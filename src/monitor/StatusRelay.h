// Where the status line goes besides the terminal.
//
// On a terminal the line rewrites itself every second, ending in a carriage
// return; that is what it gets unless --log is given. In a log (--log) a line
// every second would bury everything else, so one line a minute goes out (the
// first at once, the last when the recording has ended), each ending in a line
// feed. A service manager that listens (NOTIFY_SOCKET) gets every line as
// "STATUS=...", which `systemctl status` shows.
//
// Threads: main thread only; the capture loop writes every status line
// through write() and calls finish() once after the last one.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "monitor/StatusLine.h"
#include "platform/Clock.h"

namespace vorta {

class ServiceNotifier;

class StatusRelay {
 public:
  static constexpr std::chrono::seconds kLogInterval{60};

  // `terminal` takes the line as it is when logLines is false.
  StatusRelay(RawWriter terminal, bool logLines, const ServiceNotifier& notifier, Clock& clock);

  void write(const char* bytes, std::size_t length);
  // After the last line: in a log, the last line unless it was just logged.
  void finish();

 private:
  RawWriter terminal_;
  bool logLines_;
  const ServiceNotifier& notifier_;
  Clock& clock_;
  std::string pending_;  // the last line not yet logged (log mode)
  std::optional<SteadyTime> nextLogTime_;  // none: the next line goes out
};

}  // namespace vorta
