#include "platform/Event.h"

#include <chrono>

namespace vorta {

void Event::open() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
  signalled_ = true;
}

void Event::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    signalled_ = false;
  }
  changed_.notify_all();
}

bool Event::isOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

void Event::set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return;
    signalled_ = true;
  }
  changed_.notify_one();
}

bool Event::wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!open_) return false;
  changed_.wait_for(lock, timeout, [this] { return signalled_ || !open_; });
  if (!open_ || !signalled_) return false;
  signalled_ = false;  // auto-reset: one waiter takes the signal
  return true;
}

}  // namespace vorta
