// The one place a run's events go: each posted event is handed to every sink
// in the order they were added.
//
// Threads: sinks are added on the main thread before any other thread that
// posts exists; post() may then be called from any thread, and calls each
// sink's on() on the posting thread. A sink therefore never blocks (it
// queues what takes time for a thread of its own) and guards its own state.
// Sinks outlive the reporter's last post.
#pragma once

#include <vector>

#include "base/RunEvents.h"

namespace vorta {

class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void on(const RunEvent& event) = 0;
};

class Reporter {
 public:
  void add(EventSink& sink) { sinks_.push_back(&sink); }
  void post(const RunEvent& event) const {
    for (EventSink* sink : sinks_) sink->on(event);
  }

 private:
  std::vector<EventSink*> sinks_;
};

}  // namespace vorta
