// --on-event CMD: the operator's own command for the events worth an alarm
// or a hand-over: dead air began and ended, the input lost, a file finished,
// an overrun, and the run's end. CMD runs through the system's shell with
// the details in VORTA_* environment variables (docs/hooks.md).
//
// A hook never delays the recording or a stop: on() only queues it, and the
// vorta-hooks thread starts and watches the commands. At most kAtOnce run or
// wait at a time; an event beyond that is dropped and counted (said at the
// end). A hook that fails (exit code not 0, not started) is reported; in a
// log (--log) every hook's exit code is. At the end vorta waits for the
// hooks still running at most kExitWait, then leaves them running and says
// how many: a hook may be copying the last file away, and killing it would
// lose exactly what it is for.
//
// Threads: on() from the posting threads (queue under the mutex); the
// commands belong to vorta-hooks; finish() on the main thread, once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Reporter.h"
#include "base/Settings.h"
#include "base/TextOutput.h"
#include "platform/Clock.h"

namespace vorta {

class Hooks final : public EventSink {
 public:
  static constexpr std::size_t kAtOnce = 4;
  static constexpr std::chrono::seconds kExitWait{5};

  // Reports go to `out`.
  Hooks(const Settings& settings, const TextOutput& out, Clock& clock);
  ~Hooks() override;
  Hooks(const Hooks&) = delete;
  Hooks& operator=(const Hooks&) = delete;

  void on(const RunEvent& event) override;
  // Waits for the hooks queued and running, at most `wait` or until giveUp()
  // says so (looked at every 100 ms), then reports what was dropped and
  // what is left running.
  void finish(std::chrono::milliseconds wait, const std::function<bool()>& giveUp = {});

 private:
  struct Job {
    std::string event;
    std::vector<std::string> environment;  // "NAME=value"
  };
  void queue(std::string event, std::vector<std::string> details);
  void run();

  const Settings& settings_;
  const TextOutput out_;
  Clock& clock_;
  // Guards everything below; vorta-hooks waits on changed_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> waiting_;
  std::size_t running_ = 0;
  std::uint32_t dropped_ = 0;
  std::string currentFile_;
  double secondsRecorded_ = 0;
  bool finishing_ = false;
  bool leave_ = false;  // the wait is over: leave what runs
  bool idle_ = false;   // vorta-hooks has ended
  std::thread thread_;
};

}  // namespace vorta
