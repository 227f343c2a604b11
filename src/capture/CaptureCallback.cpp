#include "capture/CaptureCallback.h"

#include "base/RunState.h"
#include "base/Settings.h"
#include "base/RingBuffer.h"

namespace vorta {
namespace {

// One signed 16-bit little-endian value; the bytes need not be aligned.
int valueAt(const std::uint8_t* data, std::uint32_t index) {
  const auto low = static_cast<unsigned>(data[2 * index]);
  const auto high = static_cast<unsigned>(data[2 * index + 1]);
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
}

std::int32_t captureRate(const RunState& run, const Settings& settings) {
  const std::int32_t rate = run.captureBytesPerSecond.load(std::memory_order_relaxed);
  return rate > 0 ? rate : settings.bytesPerSecond();
}

}  // namespace

// A position is loud when all ten values from it reach the threshold. The
// test stops at the first quiet value, so silence costs one comparison per
// block. -32768 counts as 32768: the absolute value is taken in 32 bits.
bool SilenceCut::loudAt(const std::uint8_t* data, std::uint32_t position) const {
  for (std::uint32_t i = 0; i < kLoudRun; ++i) {
    int v = valueAt(data, position + i);
    if (v < 0) v = -v;
    if (v < threshold_) return false;
  }
  return true;
}

std::uint32_t SilenceCut::keep(const std::uint8_t* data, std::uint32_t length) {
  const std::uint32_t values = length / 2;
  if (values < kShortestCut || bytesPerSecond_ <= 0) return length;
  const std::uint32_t last = values - kBlockStep;  // tests start below this

  // The forward positions alone decide whether the buffer holds sound.
  bool sound = false;
  for (std::uint32_t p = 0; p < last; p += kBlockStep) {
    if (loudAt(data, p)) {
      sound = true;
      break;
    }
  }
  if (!sound) return keepSilent(length);

  // Sound: keep it whole and measure the silence after its last loud block,
  // from the end backwards. Q = -1 (none found) counts the whole buffer.
  std::int64_t loudQ = -1;
  for (std::int64_t q = last; q >= static_cast<std::int64_t>(kBlockStep); q -= kBlockStep) {
    if (loudAt(data, static_cast<std::uint32_t>(q))) {
      loudQ = q;
      break;
    }
  }
  const double quietValues = static_cast<double>(static_cast<std::int64_t>(values) - 1 - loudQ);
  trailingSilenceUs_ = static_cast<std::int32_t>(quietValues * 2000000.0 / bytesPerSecond_);
  return length;
}

// A silent buffer: let silence through until kSilenceCapUs have been kept
// after the last sound, then drop it.
std::uint32_t SilenceCut::keepSilent(std::uint32_t length) {
  if (trailingSilenceUs_ >= kSilenceCapUs) return 0;
  const auto duration =
      static_cast<std::int32_t>(static_cast<double>(length) * 1000000.0 / bytesPerSecond_);
  const std::int64_t total = static_cast<std::int64_t>(trailingSilenceUs_) + duration;
  if (total < kSilenceCapUs) {
    trailingSilenceUs_ = static_cast<std::int32_t>(total);
    return length;
  }
  // Only the front that fills the remaining time. Rounded down to whole
  // frames: the ring is a plain byte stream and the encoder takes it as
  // frames, so a half frame here would swap channels (or bytes) for the rest
  // of the recording.
  const double remainingUs = static_cast<double>(kSilenceCapUs - trailingSilenceUs_);
  auto bytes = static_cast<std::uint32_t>(remainingUs * bytesPerSecond_ * 0.000001);
  if (bytes > length) bytes = length;
  if (blockAlign_ > 0) bytes -= bytes % static_cast<std::uint32_t>(blockAlign_);
  trailingSilenceUs_ = kSilenceCapUs;
  return bytes;
}

CaptureCallback::CaptureCallback(RunState& run, const Settings& settings, RingBuffer& pcmRing)
    : run_(run),
      pcmRing_(pcmRing),
      silenceEnabled_(settings.silenceEnabled),
      cut_(settings.silenceThreshold, captureRate(run, settings), settings.channels() * 2) {}

void CaptureCallback::onSound(SoundMessage message, CaptureBuffer* buffer) {
  switch (message) {
    case SoundMessage::Open:
      run_.captureEvent.open();
      run_.encoderEvent.open();
      return;
    case SoundMessage::Close:
      run_.encoderEvent.close();
      run_.captureEvent.close();
      return;
    case SoundMessage::Data:
      if (buffer) onData(*buffer);
      return;
  }
}

void CaptureCallback::onData(const CaptureBuffer& buffer) {
  // Once the loop has stopped the recording, the buffers that the stop and
  // the reset hand back change nothing: no write, no mark, no event.
  if (run_.captureStopped.load(std::memory_order_acquire) != 0) return;

  std::uint32_t keep = buffer.bytesRecorded;
  if (keep > buffer.length) keep = buffer.length;  // never trust a count past the block
  if (silenceEnabled_) keep = cut_.keep(buffer.data, keep);

  // Take the split request in one step, so a request the loop raises now is
  // either taken here or stays for the next buffer, never cleared unseen.
  // acq_rel: the acquire pairs with the loop's release store, after which
  // the new outputName is complete.
  const bool mark = run_.newFilePending.exchange(0, std::memory_order_acq_rel) != 0;
  const bool stored = pcmRing_.write(buffer.data, keep, mark ? 1 : 0) == 0 && keep > 0;
  // A write that stored nothing (silence dropped, ring full) set no mark:
  // keep the request for the first write that does, so the new hour still
  // gets its own file.
  if (mark && !stored) run_.newFilePending.store(1, std::memory_order_release);

  // The bytes are in the ring before anyone is woken.
  run_.captureEvent.set();
  run_.encoderEvent.set();
}

}  // namespace vorta
