// The reading thread: waits for an order (parked), or steps the stream while
// running; a stop makes it finish the stream and park again; the quit order
// ends it. It owns nothing but its loss flag and silence watch; the stream
// and the callback belong to the input that owns the reader.
#include "platform/BlockReader.h"

#include <cstdlib>
#include <utility>

#include "platform/Threads.h"

namespace vorta {
namespace {

std::int64_t steadyMs(SteadyTime t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

SteadyTime steadyNow() { return std::chrono::steady_clock::now(); }

}  // namespace

BlockReader::BlockReader(BlockStream& stream, SoundCallback& callback)
    : stream_(stream), callback_(callback), thread_(&BlockReader::main, this) {}

BlockReader::~BlockReader() {
  stop();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    order_ = Order::Quit;
    changed_.notify_all();
  }
  thread_.join();
}

void BlockReader::run() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (order_ == Order::Run) return;
  fresh_ = true;
  order_ = Order::Run;
  changed_.notify_all();
}

bool BlockReader::stop() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (order_ != Order::Run) return false;
  order_ = Order::Stop;
  stopRequest_ = steadyNow();
  changed_.notify_all();
  changed_.wait(lock, [this] { return order_ == Order::Park; });
  return true;
}

bool BlockReader::running() {
  std::lock_guard<std::mutex> lock(mutex_);
  return order_ == Order::Run;
}

void BlockReader::lose(const Error& why) {
  if (lost_) return;
  lost_ = true;
  callback_.onInputLost(why);
}

void BlockReader::main() {
  nameCurrentThread("vorta-input");
  // Reading keeps pace with the device at the system's normal priority; the
  // thread that starts it may run higher, and Linux threads inherit that.
  setCurrentThreadPriority(PriorityLevel::Normal);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // Parked, or lost in this run: wait for an order, never spin. A new run
    // (fresh_) goes on even after a loss: it reports its own.
    changed_.wait(lock, [this] {
      return order_ == Order::Quit || order_ == Order::Stop ||
             (order_ == Order::Run && (!lost_ || fresh_));
    });
    if (order_ == Order::Quit) return;
    if (order_ == Order::Stop) {
      const SteadyTime requested = stopRequest_;
      lock.unlock();
      stream_.finish(requested);
      lock.lock();
      order_ = Order::Park;
      changed_.notify_all();
      continue;
    }
    const bool fresh = std::exchange(fresh_, false);
    lock.unlock();
    if (fresh) {
      lost_ = false;  // a new run reports its own loss
      stream_.begin();
      silent_.restart(steadyMs(steadyNow()));
    }
    runStep();
    lock.lock();
  }
}

void BlockReader::runStep() {
  const std::int64_t frames = stream_.step(kWait);
  if (!lost_ && silent_.silentTooLong(steadyMs(steadyNow()), frames)) lose(stream_.silenceError());
}

std::string askedSoundDevice(const char* device) {
  if (device && *device) return device;
  const char* fromEnvironment = std::getenv("AUDIODEV");
  return fromEnvironment ? fromEnvironment : "";
}

std::string soundDeviceName(const char* device) {
  const std::string asked = askedSoundDevice(device);
  return asked.empty() ? "default" : asked;
}

}  // namespace vorta
