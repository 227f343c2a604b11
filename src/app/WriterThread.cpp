// The writer thread. Waits on the shared condition variable for work, for
// the owner's interval or for finish(); owns nothing but the write in hand;
// ends when finishing and nothing is left to take, or when finish() gave up
// on it while it was writing.
#include "app/WriterThread.h"

#include <thread>
#include <utility>

#include "platform/Threads.h"

namespace vorta {

namespace {

constexpr std::chrono::milliseconds kLook{100};

}  // namespace

WriterThread::WriterThread(std::string name, Work work) : shared_(std::make_shared<Shared>()) {
  shared_->work = std::move(work);
  // The thread holds the state too, so a thread left behind in a hung write
  // finds it still there when the write returns.
  thread_ = std::thread([shared = shared_, name = std::move(name)] { run(shared, name); });
}

WriterThread::~WriterThread() { finish(); }

void WriterThread::run(const std::shared_ptr<Shared>& shared, const std::string& name) {
  nameCurrentThread(name.c_str());
  Shared& s = *shared;
  std::unique_lock<std::mutex> lock(s.mutex);
  const auto due = [&s] { return s.finishing || s.work.wake(); };
  for (;;) {
    if (s.work.every) s.changed.wait_for(lock, *s.work.every, due);
    else s.changed.wait(lock, due);
    if (s.abandoned) return;
    std::optional<Write> write = s.work.take(s.finishing);
    if (!write) {
      if (s.finishing) break;
      continue;
    }
    lock.unlock();
    (*write)();
    write.reset();  // whatever it holds goes before the owner may
    lock.lock();
    if (s.abandoned) return;
  }
  s.ended = true;
  s.changed.notify_all();
}

bool WriterThread::finish(std::chrono::milliseconds wait, const std::function<bool()>& giveUp) {
  if (!thread_.joinable()) return true;
  Shared& s = *shared_;
  std::unique_lock<std::mutex> lock(s.mutex);
  s.finishing = true;
  s.changed.notify_all();
  const auto start = std::chrono::steady_clock::now();
  const auto waited = [&start] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  };
  while (!s.changed.wait_for(lock, kLook, [&s] { return s.ended; })) {
    if ((giveUp && giveUp()) || waited() >= wait) {
      s.abandoned = true;  // the process ends around the thread
      thread_.detach();
      return false;
    }
  }
  lock.unlock();
  thread_.join();
  return true;
}

}  // namespace vorta
