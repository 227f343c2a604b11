// The reading thread: waits for an order (parked), or steps the stream while
// running; a stop makes it finish the stream and park again; the quit order
// ends it. It owns nothing but its loss flag and its watches (silence, and
// stalls when the stream measures them); the stream and the callback belong
// to the input that owns the reader.
#include "platform/BlockReader.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/Threads.h"

namespace vorta {
BlockReader::BlockReader(BlockStream& stream, SoundCallback& callback,
                         std::optional<StallMeter> stalls, Clock& clock,
                         ThreadPriorities priorities)
    : stream_(stream),
      callback_(callback),
      clock_(clock),
      priorities_(priorities),
      stalls_(std::move(stalls)),
      thread_(&BlockReader::main, this) {}

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
  stopRequest_ = clock_.steadyNow();
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
  priorities_.setCurrent(PriorityLevel::Normal);
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
      finishRun(requested);
      lock.lock();
      order_ = Order::Park;
      changed_.notify_all();
      continue;
    }
    const bool fresh = std::exchange(fresh_, false);
    lock.unlock();
    if (fresh) {
      lost_ = false;  // a new run reports its own loss
      forgetReads();
      stream_.begin();
      silent_.restart(clock_.steadyNow());
    }
    runStep();
    lock.lock();
  }
}

void BlockReader::runStep() {
  const std::int64_t frames = stream_.step(kWait);
  if (!lost_ && silent_.silentTooLong(clock_.steadyNow(), frames)) lose(stream_.silenceError());
}

// The sound up to the request is still on its way for the stream's tail, so
// reading goes on that long before the stream finishes; stopping at once
// would lose up to a period of what was played before the stop.
// A stall whose reads had not yet settled when the stop came still lost
// sound: its figure so far is reported, unless the whole input was lost.
void BlockReader::finishRun(SteadyTime requested) {
  const SteadyTime deadline = requested + stream_.stopTail();
  for (SteadyTime now = clock_.steadyNow(); !lost_ && now < deadline; now = clock_.steadyNow())
    stream_.step(std::min<std::chrono::milliseconds>(
        kWait, std::chrono::ceil<std::chrono::milliseconds>(deadline - now)));
  stream_.finish();
  if (!stalls_ || lost_) return;
  if (const auto lost = stalls_->atStop()) callback_.onStall(*lost);
}

void BlockReader::afterRead(std::int64_t frames, std::int64_t waiting) {
  if (!stalls_) return;
  if (const auto lost = stalls_->afterRead(clock_.steadyNow(), frames, waiting)) callback_.onStall(*lost);
}

std::optional<std::chrono::milliseconds> BlockReader::sinceRead() {
  return stalls_ ? stalls_->sinceRead(clock_.steadyNow()) : std::nullopt;
}

void BlockReader::forgetReads() {
  if (stalls_) stalls_->restart();
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
