#include "platform/SoundInputTiming.h"

#include <algorithm>

namespace vorta {

using std::chrono::milliseconds;

namespace {

constexpr milliseconds kDay = std::chrono::hours(24);

}  // namespace

// The device's stamps say how long it stood still; its buffer, discarded by
// the recovery, comes on top. Without them, everything since the last read.
milliseconds overrunLoss(const OverrunFacts& facts) {
  if (facts.stalled && *facts.stalled >= milliseconds(0) && *facts.stalled < kDay)
    return *facts.stalled + std::max(facts.buffer, milliseconds(0));
  if (!facts.sinceRead) return std::max(facts.buffer, milliseconds(1));
  return std::clamp(*facts.sinceRead, milliseconds(1), kDay);
}

void StallMeter::restart() {
  lastRead_.reset();
  lastWaiting_ = 0;
  open_.reset();
}

std::optional<milliseconds> StallMeter::sinceRead(SteadyTime now) const {
  if (!lastRead_) return std::nullopt;
  return std::chrono::duration_cast<milliseconds>(now - *lastRead_);
}

std::optional<milliseconds> StallMeter::afterRead(SteadyTime now, std::int64_t frames,
                                                  std::int64_t waiting) {
  if (!open_ && lastRead_ && now - *lastRead_ > kGap)
    open_ = Measurement{*lastRead_, now, lastWaiting_, 0, std::nullopt};
  lastRead_ = now;
  lastWaiting_ = std::max<std::int64_t>(waiting, 0);
  if (!open_) return std::nullopt;
  Measurement& m = *open_;
  m.framesRead += frames;
  if (now - m.gapEnd > kGiveUp) {
    open_.reset();  // never caught up: no figure worth giving
    return std::nullopt;
  }
  // The backlog can come in bursts with short pauses between them: only a
  // whole settling time of reads that found the device caught up ends it.
  if (lastWaiting_ >= periodFrames_) {
    m.caughtUpSince.reset();
    return std::nullopt;
  }
  if (!m.caughtUpSince) m.caughtUpSince = now;
  if (now - *m.caughtUpSince < kSettle) return std::nullopt;
  return close();
}

std::optional<milliseconds> StallMeter::atStop() {
  if (!open_) return std::nullopt;
  return close();
}

// What the device took in from the read before the gap to the last read,
// less what the reads got and what still waits to be read.
std::optional<milliseconds> StallMeter::close() {
  const Measurement m = *open_;
  open_.reset();
  const auto tookIn = std::chrono::duration_cast<milliseconds>(*lastRead_ - m.from);
  const milliseconds lost = tookIn - duration(m.framesRead + lastWaiting_ - m.waitingAtStart);
  // Below two periods (and a quarter second) the figure is within the
  // measurement's own error.
  const milliseconds noise = std::max(milliseconds(250), 2 * duration(periodFrames_));
  if (lost <= noise) return std::nullopt;
  return lost;
}

void SilentInputWatch::restart(SteadyTime now) {
  lastLook_ = now;
  silent_ = {};
}

bool SilentInputWatch::silentTooLong(SteadyTime now, std::int64_t frames) {
  const auto sinceLook = now - lastLook_;
  lastLook_ = now;
  if (frames > 0) {
    silent_ = {};
    return false;
  }
  // A long absence of the reading thread is the program's own stall.
  if (sinceLook > sinceLook.zero() && sinceLook <= kAbsent) silent_ += sinceLook;
  return silent_ >= limit_;
}

}  // namespace vorta
