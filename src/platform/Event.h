// Auto-reset event.
//
// Contract: any thread may set, wait on, open or close an event. An event is
// created closed; open() makes it usable and signalled (the capture callback
// opens both events when the device opens). wait() returns true when it took
// the signal, false on time-out or when the event is closed. A closed event
// never blocks a waiter, and closing wakes every waiter: closing is a state,
// never freed memory, so no thread can touch a dead event.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vorta {

class Event {
 public:
  Event() = default;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void open();   // open and signalled
  void close();  // closed: waits return false at once
  bool isOpen() const;
  void set();
  bool wait(std::chrono::milliseconds timeout);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  bool signalled_ = false;
};

}  // namespace vorta
