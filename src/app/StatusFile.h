// --status FILE: the run's state as a JSON document (docs/status.md), for
// monitoring and for vorta-web. The sink keeps the latest state from the
// events; its thread, vorta-status, replaces the file whole once a second
// (written beside it, synced, renamed over it), so a reader always finds a
// complete document, and writes the final state with the exit code when the
// run ends.
//
// Threads: on() is called by the posting threads and only copies figures
// under the mutex; the file is written by vorta-status alone, so a slow disk
// never holds up the recording. The main thread calls finish() once, at the
// end. A file that cannot be written is reported once (until it can be
// again) and never stops the recording.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/Reporter.h"
#include "base/Settings.h"
#include "platform/Clock.h"

namespace vorta {

// What the document says; the figures as the last status tick gave them.
struct StatusState {
  std::string state = "starting";  // recording, stopped, ended, failed
  std::optional<StatusFigures> figures;
  RunTotals totals;
  std::string file;                       // the file being written
  std::string errorKind, errorText;       // the last failure, if any
  std::optional<int> exitCode;
};

// The document for the settings and the state at `updated`.
std::string statusDocument(const Settings& settings, const StatusState& state, long processId,
                           WallSeconds started, WallSeconds updated);

class StatusFile final : public EventSink {
 public:
  StatusFile(const Settings& settings, Clock& clock);
  ~StatusFile() override;
  StatusFile(const StatusFile&) = delete;
  StatusFile& operator=(const StatusFile&) = delete;

  void on(const RunEvent& event) override;
  // Writes the final state (the run's end must have been posted) and ends
  // the thread; gives up on a disk that takes longer than `wait`, leaving
  // the thread to finish on its own.
  void finish(std::chrono::milliseconds wait);

 private:
  void run();
  void write(const StatusState& state);

  const Settings& settings_;
  Clock& clock_;
  const long processId_;
  const WallSeconds started_;
  // Guards everything below; the thread waits on changed_.
  std::mutex mutex_;
  std::condition_variable changed_;
  StatusState state_;
  bool finishing_ = false;
  bool finalWritten_ = false;
  std::thread thread_;
  bool failing_ = false;  // vorta-status only: a failure has been reported
};

}  // namespace vorta
