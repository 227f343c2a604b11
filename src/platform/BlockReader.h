// The reading thread every system's sound input shares: the park / run /
// stop / quit handshake with the owner, the rule that a lost input is
// reported once per run, and the watch for an input that gives no sound.
// Only opening, reading and stopping the device differ by system; they live
// in a BlockStream.
//
// Threads and what they touch:
// - The owner (the sound input, on the capture loop's thread) constructs and
//   destroys the reader and calls run() and stop(). While the reader is
//   parked (not running, or stop() has returned) the reading thread makes no
//   stream call, so the owner may use the device freely.
// - The reading thread ("vorta-input", at the system's normal priority)
//   makes every BlockStream call and every callback, never under the mutex.
// - Guarded by mutex_: order_, fresh_, stopRequest_.
// - Reading thread only: lost_, silent_, stalls_.
// - clock_ is read by both; a Clock holds no state of its own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/Result.h"
#include "platform/SoundInput.h"
#include "platform/SoundInputTiming.h"
#include "platform/Threads.h"

namespace vorta {

// The system's part of a running input; every call comes from the reading
// thread.
class BlockStream {
 public:
  virtual ~BlockStream() = default;
  // A new stream begins (after each run()): forget what the last one measured.
  virtual void begin() = 0;
  // Waits at most `wait` for sound and hands what came to the callback
  // (whole blocks, overruns, BlockReader::lose). Returns the frames read.
  virtual std::int64_t step(std::chrono::milliseconds wait) = 0;
  // How long sound from before a stop may still take to reach the reads:
  // after a stop request the reader steps on for that long, so the sound up
  // to the request is kept. Zero where stopping hands back all the system
  // holds.
  virtual std::chrono::milliseconds stopTail() const = 0;
  // After the stop's tail: takes what is waiting and hands over the last
  // block partly filled. Called even after a loss.
  virtual void finish() = 0;
  // What a running input that gives no sound is lost with.
  virtual Error silenceError() = 0;
};

class BlockReader {
 public:
  // The longest wait in one step, so a stop is never held up long.
  static constexpr std::chrono::milliseconds kWait{100};

  // Starts the reading thread, parked. A stream whose device says how much
  // it holds passes a stall meter and reports its reads (afterRead). The
  // clock times the watches and the stop request; the reading thread runs
  // at the normal level of `priorities`.
  BlockReader(BlockStream& stream, SoundCallback& callback,
              std::optional<StallMeter> stalls = std::nullopt, Clock& clock = systemClock(),
              ThreadPriorities priorities = ThreadPriorities());
  // Stops (see stop()), then ends and joins the reading thread.
  ~BlockReader();
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  // Owner: the stream (re)starts; a loss is reported again, the watches
  // start over. Nothing when running.
  void run();
  // Owner: the stream finishes and the thread parks; returns once it has.
  // False when it was not running.
  bool stop();
  // Owner: whether it runs (run() came, stop() not yet).
  bool running();

  // Reading thread: the input stopped working; the callback hears of it once
  // per run, and no step follows until the stop.
  void lose(const Error& why);
  bool lost() const { return lost_; }
  SoundCallback& callback() { return callback_; }

  // Reading thread: a read got `frames` and left `waiting` in the device; a
  // stall whose loss has settled is reported.
  void afterRead(std::int64_t frames, std::int64_t waiting);
  // Reading thread: the time since the last read (none before the first),
  // and forgetting it when the stream restarts or a loss was reported
  // another way.
  std::optional<std::chrono::milliseconds> sinceRead();
  void forgetReads();

 private:
  enum class Order { Park, Run, Stop, Quit };

  void main();
  void runStep();
  void finishRun(SteadyTime requested);

  BlockStream& stream_;
  SoundCallback& callback_;
  Clock& clock_;
  const ThreadPriorities priorities_;

  std::mutex mutex_;
  std::condition_variable changed_;
  Order order_ = Order::Park;
  bool fresh_ = false;  // run() asked for a new stream
  SteadyTime stopRequest_;

  bool lost_ = false;
  SilentInputWatch silent_{kSilentInputLimit};
  std::optional<StallMeter> stalls_;

  std::thread thread_;  // last: starts once everything above is ready
};

// The device the caller asked for, else the one the environment's AUDIODEV
// names, else "" (the system's default).
std::string askedSoundDevice(const char* device);

}  // namespace vorta
