// Calls into a sound server that may have frozen, with a time limit.
//
// The pulse plugin waits without a limit for its server while it opens,
// configures, stops or closes a PCM: a frozen server would hold the program's
// start or end for ever, deaf to Ctrl+C. So such a call runs on a helper
// thread and the caller waits for it at most a given time, or until giveUp()
// turns true (looked at every 50 ms).
//
// Ownership: the helper owns the job (with its copies) and the shared
// outcome; when the caller stops waiting, the helper runs on alone and, once
// the job returns, hands its result to `orphan`, which releases what the
// result holds (a PCM opened too late, say). It never touches the caller's
// memory. Whatever the job works on must be given up by the caller too: a
// call that never returns keeps it. Used inside src/platform only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace vorta {

template <class T>
std::optional<T> runWithinLimit(std::function<T()> job, std::chrono::milliseconds limit,
                                std::function<bool()> giveUp = {},
                                std::function<void(T&)> orphan = {}) {
  struct Pending {
    std::mutex mutex;
    std::condition_variable done;
    bool abandoned = false;
    std::optional<T> outcome;
  };
  auto pending = std::make_shared<Pending>();
  std::thread helper([pending, job = std::move(job), orphan = std::move(orphan)] {
    T outcome = job();
    std::unique_lock<std::mutex> lock(pending->mutex);
    if (pending->abandoned) {
      lock.unlock();
      if (orphan) orphan(outcome);
      return;
    }
    pending->outcome = std::move(outcome);
    pending->done.notify_all();
  });
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock<std::mutex> lock(pending->mutex);
  while (!pending->outcome && !(giveUp && giveUp()) &&
         std::chrono::steady_clock::now() < deadline) {
    pending->done.wait_for(lock, std::chrono::milliseconds(50));
  }
  if (pending->outcome) {
    lock.unlock();
    helper.join();
    return std::move(pending->outcome);
  }
  pending->abandoned = true;
  lock.unlock();
  helper.detach();
  return std::nullopt;
}

}  // namespace vorta
