// The vorta-console thread. Waits on its condition variable for a text or a
// status line; owns the queue and the status slot (under the mutex) and the
// console's streams while it runs; ends when finish() has been called and
// nothing is left to write.
#include "app/ConsoleWriter.h"

#include <chrono>

#include "platform/Threads.h"

namespace vorta {

ConsoleWriter::ConsoleWriter(Output output) : output_(std::move(output)) {
  thread_ = std::thread([this] { run(); });
}

ConsoleWriter::~ConsoleWriter() { finish(); }

void ConsoleWriter::write(Stream stream, std::string_view bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (texts_.size() >= kMaxQueued) return;
    if (status_) texts_.emplace_back(std::nullopt, std::move(*status_));
    status_.reset();
    texts_.emplace_back(stream, std::string(bytes));
  }
  changed_.notify_all();
}

void ConsoleWriter::status(std::string_view line) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = std::string(line);
  }
  changed_.notify_all();
}

void ConsoleWriter::finish(const std::function<bool()>& giveUp) {
  if (!thread_.joinable()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  finishing_ = true;
  changed_.notify_all();
  const auto idle = [this] { return texts_.empty() && !status_ && !busy_; };
  while (!changed_.wait_for(lock, std::chrono::milliseconds(100), idle))
    if (giveUp && giveUp()) {
      // The thread stays blocked in its write; the process ends around it.
      thread_.detach();
      return;
    }
  lock.unlock();
  thread_.join();
}

void ConsoleWriter::run() {
  nameCurrentThread("vorta-console");
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !texts_.empty() || status_ || finishing_; });
    if (!texts_.empty()) {
      const auto [stream, bytes] = std::move(texts_.front());
      texts_.pop_front();
      busy_ = true;
      lock.unlock();
      if (stream) output_.text(*stream, bytes);
      else output_.status(bytes);
    } else if (status_) {
      const std::string line = std::move(*status_);
      status_.reset();
      busy_ = true;
      lock.unlock();
      output_.status(line);
    } else {
      return;  // finishing and nothing left
    }
    lock.lock();
    busy_ = false;
    changed_.notify_all();  // finish() may be waiting for idle
  }
}

}  // namespace vorta
