// A thread of its own for output that may hang (a console paused with
// Ctrl+S, a pipe whose reader stalled, a disk that does not answer), so that
// only this thread waits on it, never capture, the encoder or a stop; and a
// bounded end: finish() waits for the last write at most as long as the
// owner allows, then leaves a thread stuck in its write behind.
//
// Threads: the owner's data that feeds the writes is guarded by this
// object's mutex: any thread changes it through update(); the writer thread
// calls `wake` and `take` with the mutex held and the write they return
// without it. The thread that creates the writer calls finish() (and the
// destructor), once. Once a write left behind returns, its thread touches
// nothing more of the owner's or of this object's: it holds the shared state
// alive and sees that it was abandoned. A write that may be left behind holds
// what it uses itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace vorta {

class WriterThread {
 public:
  using Write = std::function<void()>;
  struct Work {
    // True when there is something to write (the thread then wakes).
    std::function<bool()> wake;
    // Takes the next write, or none when there is nothing left; `finishing`
    // once finish() was called: the thread ends when none comes back then.
    std::function<std::optional<Write>(bool finishing)> take;
    // Also wake this often with nothing new (a regular write); none: only
    // on wake() and finish().
    std::optional<std::chrono::milliseconds> every;
  };

  // Starts the thread, named `name`. The owner's data that `work` reads must
  // be ready: construct the writer last.
  WriterThread(std::string name, Work work);
  ~WriterThread();
  WriterThread(const WriterThread&) = delete;
  WriterThread& operator=(const WriterThread&) = delete;

  // Changes the owner's data under the mutex, then wakes the thread.
  template <class Change>
  void update(Change&& change) {
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      change();
    }
    shared_->changed.notify_all();
  }

  // Writes what is left and ends the thread: true. Gives up (false) once
  // `wait` has passed or giveUp() says so (looked at every 100 ms), and
  // leaves the thread behind in its write. Later calls do nothing.
  bool finish(std::chrono::milliseconds wait = std::chrono::milliseconds::max(),
              const std::function<bool()>& giveUp = {});

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    Work work;
    bool finishing = false;
    bool abandoned = false;  // finish() gave up: touch nothing of the owner's
    bool ended = false;
  };
  static void run(const std::shared_ptr<Shared>& shared, const std::string& name);

  std::shared_ptr<Shared> shared_;
  std::thread thread_;  // joined once ended, or left behind; not joinable after finish()
};

}  // namespace vorta
