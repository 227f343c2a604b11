// The console while recording: one thread, vorta-console, writes every text
// and the status line, so that a console that blocks (a terminal paused with
// Ctrl+S, a pipe whose reader has stalled) holds up only this thread, never
// capture, the encoder or the reaction to a stop.
//
// Any thread may call write() and status(); the queue and the status slot
// are guarded by the writer thread's mutex. The thread that creates the
// writer calls finish() (and the destructor).
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/WriterThread.h"
#include "base/TextOutput.h"

namespace vorta {

class ConsoleWriter final : public TextSink {
 public:
  // Where the bytes end up: texts to their stream, status lines raw to file
  // handle 2. Called on the writer's thread only.
  struct Output {
    std::function<void(Stream, std::string_view)> text;
    std::function<void(std::string_view)> status;
  };
  // Texts queued beyond this while the console is blocked are dropped.
  static constexpr std::size_t kMaxQueued = 256;

  explicit ConsoleWriter(Output output);
  ~ConsoleWriter();
  ConsoleWriter(const ConsoleWriter&) = delete;
  ConsoleWriter& operator=(const ConsoleWriter&) = delete;

  // Queues a text; texts are written in the order they came. A status line
  // waiting in the slot is written before it: it was shown first (the last
  // line of a run comes before the line feed that closes it).
  void write(Stream stream, std::string_view bytes) override;
  // Keeps the line for the next write; a newer line replaces one not yet
  // written, so a slow console shows the latest figures.
  void status(std::string_view line);
  // Writes what is queued and ends the thread. Gives up on a console that
  // stays blocked as soon as giveUp() says so (looked at every 100 ms).
  void finish(const std::function<bool()>& giveUp = {});

 private:
  std::optional<WriterThread::Write> take();

  // Each write holds it, so a write left hanging at the end keeps it.
  std::shared_ptr<const Output> output_;
  // Under the writer's mutex. Texts, and status lines a text has followed
  // (no stream): in order.
  std::deque<std::pair<std::optional<Stream>, std::string>> texts_;
  std::optional<std::string> status_;
  WriterThread writer_;  // last: its thread reads everything above
};

}  // namespace vorta
