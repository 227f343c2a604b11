// The console's and the log's reading of a run's events: the texts of the
// message catalogue, byte for byte, in the chosen language, and the status
// line.
//
// On a terminal the status line rewrites itself every second, ending in a
// carriage return, and goes to `statusOut` (the console thread's status
// slot). In a log (--log) a line every second would bury everything else, so
// one line a minute goes out as a text (the first at once, the last when the
// recording has stopped), and the run's losses close the log.
//
// Threads: on() is called on the posting thread (the capture loop, the
// encoder thread, the main thread at the end); texts are handed whole to
// the run's TextOutput, whose sink queues them. Status ticks come from the capture
// loop only, so the log's minute needs no lock.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/Reporter.h"
#include "base/Settings.h"
#include "base/TextOutput.h"
#include "platform/Clock.h"

namespace vorta {

class ConsoleSink final : public EventSink {
 public:
  static constexpr std::chrono::seconds kLogInterval{60};

  // watchesDeadAir: the closing line of a log counts dead air.
  ConsoleSink(const TextOutput& out, bool watchesDeadAir,
              std::function<void(std::string_view)> statusOut, Clock& clock);

  void on(const RunEvent& event) override;

 private:
  void statusLine(const std::string& line);
  void error(const event::Error& e);
  void runEnded(const event::RunEnded& e);

  const TextOutput out_;
  const bool watchesDeadAir_;
  std::function<void(std::string_view)> statusOut_;
  Clock& clock_;
  std::string pending_;           // the last status line not yet logged (log mode)
  std::optional<SteadyTime> nextLogTime_;  // none: the next line goes out
};

}  // namespace vorta
