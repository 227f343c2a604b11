// The sound input's callback: opens and closes the two events with the
// device, and hands every filled capture buffer to the PCM ring, with long
// silences cut out when silence cutting is on.
//
// Threads: Open and Close arrive on the main thread inside the device's open()
// and close(); Data arrives on the sound input's service thread. The callback's
// own state (trailingSilenceUs_) is touched by Data only, and the service
// delivers Data messages one at a time, so it needs no lock. What it shares
// with other threads lives in RunState (atomics, see there) and in the ring
// (its own exclusion).
#pragma once

#include <cstdint>

#include "platform/SoundInput.h"

namespace vorta {

struct RunState;
struct Settings;
class RingBuffer;

// The silence cut's decision for one buffer: how many of its bytes to keep.
// It also carries the length of the silence kept after the last sound across
// buffers. Pure, so it can be tested on its own.
class SilenceCut {
 public:
  static constexpr std::int32_t kSilenceCapUs = 2000000;  // most silence kept
  static constexpr std::uint32_t kBlockStep = 44;         // values between tests
  static constexpr std::uint32_t kLoudRun = 10;           // loud values per test
  static constexpr std::uint32_t kShortestCut = 88;       // shorter: keep whole

  // threshold: absolute 16-bit level; bytesPerSecond and blockAlign of the
  // capture format.
  SilenceCut(int threshold, std::int32_t bytesPerSecond, int blockAlign)
      : threshold_(threshold), bytesPerSecond_(bytesPerSecond), blockAlign_(blockAlign) {}

  // Bytes of the buffer to keep, from its start; always a whole number of
  // frames when the buffer is cut short.
  std::uint32_t keep(const std::uint8_t* data, std::uint32_t length);

  std::int32_t trailingSilenceUs() const { return trailingSilenceUs_; }

 private:
  bool loudAt(const std::uint8_t* data, std::uint32_t position) const;
  std::uint32_t keepSilent(std::uint32_t length);

  const int threshold_;
  const std::int32_t bytesPerSecond_;
  const int blockAlign_;
  // Silence at the end of what has been kept so far, in microseconds; never
  // above kSilenceCapUs. Reset only by a buffer with sound.
  std::int32_t trailingSilenceUs_ = 0;
};

class CaptureCallback final : public SoundCallback {
 public:
  // Reads settings.silenceEnabled, silenceThreshold and the channel count,
  // and run.captureBytesPerSecond, which the capture loop stores before it
  // creates the callback (the settings' byte rate when it is still 0).
  CaptureCallback(RunState& run, const Settings& settings, RingBuffer& pcmRing);

  void onSound(SoundMessage message, CaptureBuffer* buffer) override;

  // For tests: the silence total carried between buffers.
  std::int32_t trailingSilenceUs() const { return cut_.trailingSilenceUs(); }

 private:
  void onData(const CaptureBuffer& buffer);

  RunState& run_;
  RingBuffer& pcmRing_;
  const bool silenceEnabled_;
  SilenceCut cut_;
};

}  // namespace vorta
