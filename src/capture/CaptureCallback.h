// What the sound input hands over, taken on the input's thread: every block
// goes into the PCM ring, with long silences cut out when silence cutting is
// on and with the split mark when the capture loop has asked for one; the
// trouble the input reports is kept for the capture loop, which prints it.
//
// Threads: onBlock, onOverrun and onInputLost run on the input's thread, one
// at a time (the input's contract), so the silence cut needs no lock.
// takeOverrunMs and lostReason run on the main thread. What the callback
// shares with other threads lives in RunState (atomics, see there), in the
// ring (its own exclusion) and in the trouble fields below.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "capture/SilenceCut.h"
#include "platform/SoundInput.h"

namespace vorta {

struct RunState;
struct Settings;
class RingBuffer;

class CaptureCallback final : public SoundCallback {
 public:
  CaptureCallback(RunState& run, const Settings& settings, RingBuffer& pcmRing);

  void onBlock(const std::uint8_t* data, std::uint32_t bytes) override;
  void onOverrun(int lostMs) override;
  void onInputLost(const Error& why) override;

  // Main thread: the sound lost in overruns since the last call, if any.
  std::optional<int> takeOverrunMs();
  // Main thread: the system's text once the input has stopped working.
  std::optional<std::string> lostReason();

  std::int32_t trailingSilenceUs() const { return cut_.trailingSilenceUs(); }
  // Any thread: the blocks handed over so far (whether sound flows).
  std::uint64_t blocksTaken() const { return blocks_.load(std::memory_order_relaxed); }

 private:
  RunState& run_;
  RingBuffer& pcmRing_;
  const bool silenceEnabled_;
  SilenceCut cut_;  // input thread only
  // Counted by the input thread, read by the capture loop; relaxed: it is a
  // sign of life, nothing is read on the strength of it.
  std::atomic<std::uint64_t> blocks_{0};

  // Milliseconds first, then the count with release: a taker that sees the
  // count (acquire) also sees the milliseconds that came with it.
  std::atomic<int> overruns_{0};
  std::atomic<int> lostMs_{0};
  // The loss and its text, set once by the input thread, read by the main
  // thread: a string, so under the mutex.
  std::mutex lostMutex_;
  std::optional<std::string> lostReason_;
};

}  // namespace vorta
