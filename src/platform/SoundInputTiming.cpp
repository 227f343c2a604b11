#include "platform/SoundInputTiming.h"

#include <algorithm>

namespace vorta {
namespace {

constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;

}  // namespace

// The device's stamps say how long it stood still; its buffer, discarded by
// the recovery, comes on top. Without them, everything since the last read.
int overrunLostMs(const OverrunFacts& facts) {
  if (facts.stalledMs && *facts.stalledMs >= 0 && *facts.stalledMs < kDayMs)
    return static_cast<int>(*facts.stalledMs) + std::max(facts.bufferMs, 0);
  if (!facts.sinceReadMs) return std::max(facts.bufferMs, 1);
  return static_cast<int>(std::clamp<std::int64_t>(*facts.sinceReadMs, 1, kDayMs));
}

void StallMeter::restart() {
  lastReadMs_.reset();
  lastWaiting_ = 0;
  open_.reset();
}

std::optional<std::int64_t> StallMeter::sinceRead(std::int64_t nowMs) const {
  if (!lastReadMs_) return std::nullopt;
  return nowMs - *lastReadMs_;
}

std::optional<int> StallMeter::afterRead(std::int64_t nowMs, std::int64_t frames,
                                         std::int64_t waiting) {
  if (!open_ && lastReadMs_ && nowMs - *lastReadMs_ > kGapMs)
    open_ = Measurement{*lastReadMs_, nowMs, lastWaiting_, 0, std::nullopt};
  lastReadMs_ = nowMs;
  lastWaiting_ = std::max<std::int64_t>(waiting, 0);
  if (!open_) return std::nullopt;
  Measurement& m = *open_;
  m.framesRead += frames;
  if (nowMs - m.gapEndMs > kGiveUpMs) {
    open_.reset();  // never caught up: no figure worth giving
    return std::nullopt;
  }
  // The backlog can come in bursts with short pauses between them: only a
  // whole settling time of reads that found the device caught up ends it.
  if (lastWaiting_ >= periodFrames_) {
    m.caughtUpSinceMs.reset();
    return std::nullopt;
  }
  if (!m.caughtUpSinceMs) m.caughtUpSinceMs = nowMs;
  if (nowMs - *m.caughtUpSinceMs < kSettleMs) return std::nullopt;
  const std::int64_t tookInMs = nowMs - m.fromMs;
  const std::int64_t gotMs = toMs(m.framesRead + lastWaiting_ - m.waitingAtStart);
  open_.reset();
  const std::int64_t lostMs = tookInMs - gotMs;
  // Below two periods (and a quarter second) the figure is within the
  // measurement's own error.
  const std::int64_t noiseMs = std::max<std::int64_t>(250, 2 * toMs(periodFrames_));
  if (lostMs <= noiseMs) return std::nullopt;
  return static_cast<int>(lostMs);
}

void SilentInputWatch::restart(std::int64_t nowMs) {
  lastLookMs_ = nowMs;
  silentMs_ = 0;
}

bool SilentInputWatch::silentTooLong(std::int64_t nowMs, std::int64_t frames) {
  const std::int64_t sinceLook = nowMs - lastLookMs_;
  lastLookMs_ = nowMs;
  if (frames > 0) {
    silentMs_ = 0;
    return false;
  }
  // A long absence of the reading thread is the program's own stall.
  if (sinceLook > 0 && sinceLook <= kAbsentMs) silentMs_ += sinceLook;
  return silentMs_ >= limitMs_;
}

}  // namespace vorta
