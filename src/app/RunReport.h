// The run's reporter with its sinks: the console (texts and the status line,
// through the vorta-console thread), the service manager, the status file
// (--status) and the operator's hooks (--on-event). Made once, on the
// main thread, when the recording is about to start; it lives until the
// process ends (nothing destroys it while other threads may post).
//
// finish() is the last act of every way a run ends, after the run's end has
// been posted: the hooks get a few seconds, the status file its final state,
// and the console writes what it holds, so the texts and the last status
// line are out before the process goes.
#pragma once

#include <functional>
#include <optional>

#include "app/ConsoleSink.h"
#include "app/ConsoleWriter.h"
#include "app/Hooks.h"
#include "app/NotifySink.h"
#include "app/StatusFile.h"
#include "base/Reporter.h"
#include "base/Settings.h"
#include "base/TextOutput.h"
#include "platform/Notify.h"

namespace vorta {

class Clock;

class RunReport {
 public:
  // `text`: the start-up's choices; from now on every text goes through the
  // console thread (text()).
  RunReport(const Settings& settings, const TextOutput& text, Clock& clock);
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;

  const Reporter& reporter() const { return reporter_; }
  const ServiceNotifier& notifier() const { return notifier_; }
  // The run's texts, written by the console thread.
  const TextOutput& text() const { return text_; }

  // Main thread. Stops waiting for hooks, the status file's disk or a
  // console that stays blocked as soon as giveUp() says so.
  void finish(const std::function<bool()>& giveUp);

 private:
  // Read once: the service manager's socket does not change during a run.
  ServiceNotifier notifier_;
  ConsoleWriter console_;
  const TextOutput text_;  // to console_
  ConsoleSink consoleSink_;
  NotifySink notifySink_;
  std::optional<StatusFile> statusFile_;
  std::optional<Hooks> hooks_;
  Reporter reporter_;
};

}  // namespace vorta
