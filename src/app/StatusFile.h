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
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/WriterThread.h"
#include "base/Reporter.h"
#include "base/Settings.h"
#include "base/TextOutput.h"
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
  // A file that cannot be written is reported to `out`.
  StatusFile(const Settings& settings, const TextOutput& out, Clock& clock);
  ~StatusFile() override;
  StatusFile(const StatusFile&) = delete;
  StatusFile& operator=(const StatusFile&) = delete;

  void on(const RunEvent& event) override;
  // Writes the final state (the run's end must have been posted) and ends
  // the thread; gives up on a disk that takes longer than `wait`, leaving
  // the thread to finish on its own.
  void finish(std::chrono::milliseconds wait);

 private:
  std::optional<WriterThread::Write> take(bool finishing);

  // What a write uses, held by each write, so one left hanging at the end
  // keeps it. failing is vorta-status's alone: a failure has been reported.
  struct Target {
    const Settings& settings;
    const TextOutput out;
    Clock& clock;
    long processId;
    WallSeconds started;
    bool failing = false;
    void write(const StatusState& state);
  };
  std::shared_ptr<Target> target_;
  // Under the writer's mutex.
  StatusState state_;
  bool finalTaken_ = false;
  WriterThread writer_;  // last: its thread reads everything above
};

}  // namespace vorta
