#include "capture/CaptureCallback.h"

#include <algorithm>

#include "base/RingBuffer.h"
#include "base/RunState.h"
#include "base/Settings.h"
#include "platform/Clock.h"

namespace vorta {

CaptureCallback::CaptureCallback(RunState& run, const Settings& settings, RingBuffer& pcmRing,
                                 Clock* clock)
    : run_(run),
      pcmRing_(pcmRing),
      silenceEnabled_(settings.silenceEnabled),
      cut_(settings.silenceThreshold, settings.bytesPerSecond(), settings.channels() * 2),
      meter_(settings.meter),
      channels_(settings.channels()),
      sampleRate_(settings.sampleRate > 0 ? settings.sampleRate : 1),
      quietBelow_(settings.silenceThreshold) {
  clock_ = settings.timeMap ? clock : nullptr;
  if (clock_) stamper_.emplace(settings.bytesPerSecond());
  if (settings.deadAirMs > 0) deadAir_.emplace(settings.deadAirMs * sampleRate_ / 1000);
}

// Cheap per block: one pass over the samples, a few stores.
void CaptureCallback::measure(const std::uint8_t* data, std::uint32_t bytes) {
  const BlockLevel level = measureLevel(data, bytes, channels_);
  const std::int64_t frames = bytes / (2 * channels_);
  if (meter_) {
    for (int c = 0; c < 2; ++c)
      if (level.peak[c] > windowPeak_[c]) windowPeak_[c] = level.peak[c];
    clipped_ += level.clipped;
    run_.clippedSamples.store(clipped_, std::memory_order_relaxed);
    windowFrames_ += frames;
    if (windowFrames_ >= sampleRate_) {
      run_.peakLeft.store(windowPeak_[0], std::memory_order_relaxed);
      run_.peakRight.store(windowPeak_[1], std::memory_order_relaxed);
      windowPeak_[0] = windowPeak_[1] = 0;
      windowFrames_ = 0;
    }
  }
  if (!deadAir_) return;
  const bool quiet = std::max(level.peak[0], level.peak[1]) < quietBelow_;
  switch (deadAir_->step(quiet, frames)) {
    case DeadAirWatch::Change::None: return;
    case DeadAirWatch::Change::Began:
      deadAirBegun_.fetch_add(1, std::memory_order_relaxed);
      break;
    case DeadAirWatch::Change::Ended:
      endedDeadAirMs_ += framesToMs(deadAir_->lastGapFrames());
      lastDeadAirMs_.store(framesToMs(deadAir_->lastGapFrames()), std::memory_order_relaxed);
      deadAirEnded_.fetch_add(1, std::memory_order_release);
      break;
  }
  run_.captureEvent.set();  // reported at once
}

std::int64_t CaptureCallback::deadAirTotalMs() const {
  if (!deadAir_) return 0;
  return endedDeadAirMs_ + (deadAir_->dead() ? framesToMs(deadAir_->quietFrames()) : 0);
}

void CaptureCallback::onBlock(const std::uint8_t* data, std::uint32_t bytes) {
  // Once the recording has stopped, nothing changes: no write, no mark, no
  // wake-up.
  if (run_.captureStopped.load(std::memory_order_acquire) != 0) return;
  blocks_.fetch_add(1, std::memory_order_relaxed);
  if (meter_ || deadAir_) measure(data, bytes);
  const std::uint32_t keep = silenceEnabled_ ? cut_.keep(data, bytes) : bytes;

  // Take the split request in one step, so a request the loop posts now is
  // either taken here or stays for the next block, never cleared unseen.
  const std::int64_t request = run_.splitRequest.exchange(0, std::memory_order_relaxed);
  if (stamper_) stamp(bytes, keep);
  const bool refused = keep > 0 && !pcmRing_.write(data, keep, static_cast<std::uint64_t>(request));
  if (refused) {
    overflows_.fetch_add(1, std::memory_order_relaxed);
    run_.captureEvent.set();  // reported at once
  }
  const bool stored = keep > 0 && !refused;
  // A write that stored nothing (silence dropped, ring full) set no mark:
  // keep the request for the first write that does, so the new hour still
  // gets its own file, unless the loop has posted a newer one meanwhile.
  if (request != 0 && !stored) {
    std::int64_t none = 0;
    run_.splitRequest.compare_exchange_strong(none, request, std::memory_order_relaxed);
  }
  // A full ring dropped the block: sound lost.
  if (stamper_ && keep > 0 && !stored) stamper_->dropped(keep);
  // The bytes are in the ring before the encoder is woken.
  run_.encoderEvent.set();
}

// One clock reading per block. The stamp is pushed before the bytes it
// belongs to go into the ring, so the encoder never reads them without it.
// A full queue (an encoder minutes behind) drops it: the time map then
// counts on from the stamp before.
void CaptureCallback::stamp(std::uint32_t bytes, std::uint32_t stored) {
  const std::int64_t nowMs = clock_->wallNowMs().time_since_epoch().count();
  if (const std::optional<TimeStamp> due = stamper_->afterBlock(bytes, stored, nowMs))
    static_cast<void>(run_.timeStamps.push(*due));
}

void CaptureCallback::onStall(std::chrono::milliseconds lost) {
  if (stamper_) stamper_->lost(SegmentReason::Stall);
  countLoss(lost);
}

void CaptureCallback::onRestarted() {
  if (stamper_) stamper_->lost(SegmentReason::Restart);
}

void CaptureCallback::onOverrun(std::chrono::milliseconds lost) {
  if (stamper_) stamper_->lost(SegmentReason::Overrun);
  countLoss(lost);
}

// Both kinds of loss are reported alike.
void CaptureCallback::countLoss(std::chrono::milliseconds lost) {
  lostMs_.fetch_add(static_cast<int>(std::max(lost.count(), std::int64_t{0})), std::memory_order_relaxed);
  overruns_.fetch_add(1, std::memory_order_release);
  run_.captureEvent.set();  // reported at once, not at the next status line
}

void CaptureCallback::onInputLost(const Error& why) {
  {
    std::lock_guard<std::mutex> lock(lostMutex_);
    if (!lostReason_) lostReason_ = why.text;
  }
  run_.captureEvent.set();
}

std::optional<int> CaptureCallback::takeOverrunMs() {
  if (overruns_.exchange(0, std::memory_order_acquire) == 0) return std::nullopt;
  return lostMs_.exchange(0, std::memory_order_relaxed);
}

std::optional<std::string> CaptureCallback::lostReason() {
  std::lock_guard<std::mutex> lock(lostMutex_);
  return lostReason_;
}

}  // namespace vorta
