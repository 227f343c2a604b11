// Sound input over ALSA: the capture PCM named by the caller, else by the
// environment variable AUDIODEV, else "default".
//
// The shared reading thread (BlockReader) steps this stream: each step
// waits on the PCM at most 100 ms, reads into the one block it owns and
// hands every full block to the callback; overruns, stalls and a lost
// device go to the callback too.
//
// Threads and what they touch:
// - The caller's thread (the capture loop) calls every SoundInput method. It
//   calls ALSA (open, prepare, drop, close) only while the reader is parked.
// - Reading thread only (the BlockStream calls): block_ and filled_,
//   errorRun_. It calls the callback without a lock.
// - Set by open() before the reader starts and cleared by close() after it
//   has ended: pcm_ (also by stop() while the reader is parked), callback_,
//   format_, periodFrames_, buffer_.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/AlsaPcm.h"
#include "platform/BlockReader.h"
#include "platform/Memory.h"
#include "platform/SoundInput.h"
#include "platform/SoundInputTiming.h"

namespace vorta {
namespace {

constexpr int kErrorsBeforeLoss = 10;  // failed reads in a row that count as a lost device

// ALSA prints its own diagnostics to stderr, which would tear the status
// line; the program reports errors itself.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// A raw device (hw:) takes only its own formats; its plughw: twin converts.
Error forDevice(const std::string& device, Error error) {
  if (error.kind == ErrorKind::FormatRefused && device.starts_with("hw:")) error.kind = ErrorKind::RawDevice;
  return error;
}

class AlsaSoundInput final : public SoundInput, private BlockStream {
 public:
  AlsaSoundInput(const char* device, ThreadPriorities priorities)
      : device_(soundDeviceName(device)), priorities_(priorities) {
    snd_lib_error_set_handler(quietAlsa);
  }
  ~AlsaSoundInput() override { close(); }

  bool devicePresent() override;
  Status open(const SoundFormat& format, SoundCallback& callback) override;
  Status start() override;
  void stop() override;
  void close() override;

 private:
  // BlockStream, on the reading thread.
  void begin() override;
  std::int64_t step(std::chrono::milliseconds wait) override;
  std::chrono::milliseconds stopTail() const override;
  void finish() override;
  Error silenceError() override { return alsaError(-ETIMEDOUT); }

  snd_pcm_sframes_t readIntoBlock(snd_pcm_uframes_t frames);
  void onReadError(int error);
  void lose(const Error& why) { reader_->lose(why); }
  std::optional<std::chrono::milliseconds> stalled();

  // Caller's thread.
  std::string device_;
  std::optional<Error> pendingOpenError_;

  // Set while the reader is parked or not running (see the top).
  PcmHandle pcm_;
  SoundCallback* callback_ = nullptr;
  SoundFormat format_;
  snd_pcm_uframes_t periodFrames_ = 0;
  std::chrono::milliseconds buffer_{0};

  // Reading thread only.
  std::vector<std::uint8_t> block_;
  std::uint32_t filled_ = 0;
  int errorRun_ = 0;

  const ThreadPriorities priorities_;
  std::optional<BlockReader> reader_;  // from open to close
};

bool AlsaSoundInput::devicePresent() {
  const Status probe = probeCapturePcm(device_);
  if (probe.ok()) return true;
  const ErrorKind kind = probe.error().kind;
  if (kind == ErrorKind::NoDevice) return false;
  // A server that never answered: open() reports it at once instead of
  // waiting all over again. Any other failure (busy, no server) is left for
  // open() to report with ALSA's own text.
  if (kind == ErrorKind::NoAnswer || kind == ErrorKind::Cancelled) pendingOpenError_ = probe.error();
  return true;
}

Status AlsaSoundInput::open(const SoundFormat& format, SoundCallback& callback) {
  if (reader_) return alsaError(-EBUSY);
  if (pendingOpenError_) return *std::exchange(pendingOpenError_, std::nullopt);
  Result<OpenedPcm> opened = openCapturePcm(device_, format);
  if (!opened.ok()) return forDevice(device_, opened.error());
  pcm_ = std::move(opened.value().pcm);
  periodFrames_ = opened.value().periodFrames;
  buffer_ = opened.value().buffer;
  format_ = format;
  callback_ = &callback;
  block_.assign(format.blockBytes(), 0);
  lockMemory(block_.data(), block_.size());
  filled_ = 0;
  reader_.emplace(static_cast<BlockStream&>(*this), callback,
                  StallMeter(format.samplesPerSecond, static_cast<std::int64_t>(periodFrames_)),
                  systemClock(), priorities_);
  return {};
}

Status AlsaSoundInput::start() {
  if (!pcm_ || !reader_) return alsaError(-EBADFD);
  if (reader_->running()) return {};
  // After a stop the PCM is in SETUP; the reading thread starts a PREPARED
  // stream itself before it waits for sound.
  if (snd_pcm_state(pcm_.get()) == SND_PCM_STATE_SETUP) {
    const int err = snd_pcm_prepare(pcm_.get());
    if (err < 0) return alsaError(err);
  }
  reader_->run();
  return {};
}

void AlsaSoundInput::stop() {
  if (!reader_ || !reader_->stop()) return;
  dropPcm(pcm_);  // a server that does not answer keeps the PCM
}

void AlsaSoundInput::close() {
  if (!reader_) return;
  stop();
  reader_.reset();  // joins the reading thread
  closePcm(std::move(pcm_));
  unlockMemory(block_.data(), block_.size());
  callback_ = nullptr;
}

// ---- reading thread ----

void AlsaSoundInput::begin() { errorRun_ = 0; }

std::int64_t AlsaSoundInput::step(std::chrono::milliseconds wait) {
  snd_pcm_t* pcm = pcm_.get();
  if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
    const int err = snd_pcm_start(pcm);
    if (err < 0) onReadError(err);
    // No read yet: the wait for a stream's first sound (the pulse plugin
    // takes a second or more) is no stall, and nothing is lost in it.
    reader_->forgetReads();
    return 0;
  }
  const int ready = snd_pcm_wait(pcm, static_cast<int>(wait.count()));
  if (ready < 0) {
    onReadError(ready);
    return 0;
  }
  snd_pcm_sframes_t frames = 0;
  if (ready > 0) frames = readIntoBlock(periodFrames_);
  if (frames < 0 && frames != -EAGAIN) {
    onReadError(static_cast<int>(frames));
    return 0;
  }
  if (frames <= 0) {
    // Some plugins wake the poll before a period is there; don't spin on it.
    if (ready > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return 0;
  }
  return frames;
}

// Reads at most `frames` into the block; a full block goes to the callback.
snd_pcm_sframes_t AlsaSoundInput::readIntoBlock(snd_pcm_uframes_t frames) {
  const auto frameBytes = static_cast<std::uint32_t>(format_.bytesPerFrame());
  const snd_pcm_uframes_t room = (block_.size() - filled_) / frameBytes;
  const snd_pcm_sframes_t got =
      snd_pcm_readi(pcm_.get(), block_.data() + filled_, std::min(frames, room));
  if (got <= 0) return got;
  errorRun_ = 0;
  filled_ += static_cast<std::uint32_t>(got) * frameBytes;
  const snd_pcm_sframes_t waiting = snd_pcm_avail_update(pcm_.get());
  reader_->afterRead(got, waiting > 0 ? waiting : 0);
  if (filled_ == block_.size()) {
    callback_->onBlock(block_.data(), filled_);
    filled_ = 0;
  }
  return got;
}

// The sound up to a stop request still travels to the device for up to a
// period, and the device wakes a read a little after that.
std::chrono::milliseconds AlsaSoundInput::stopTail() const {
  return std::chrono::milliseconds(static_cast<std::int64_t>(periodFrames_) * 1000 / format_.samplesPerSecond) +
         std::chrono::milliseconds(50);
}

// Takes what is there and hands over the part of a block it makes.
void AlsaSoundInput::finish() {
  for (int reads = 0; !reader_->lost() && reads < 64; ++reads) {
    const snd_pcm_sframes_t waiting = snd_pcm_avail_update(pcm_.get());
    if (waiting <= 0 || readIntoBlock(static_cast<snd_pcm_uframes_t>(waiting)) <= 0) break;
  }
  if (filled_ > 0) callback_->onBlock(block_.data(), filled_);
  filled_ = 0;
}

void AlsaSoundInput::onReadError(int error) {
  if (++errorRun_ > kErrorsBeforeLoss) {
    lose(alsaError(error));
    return;
  }
  if (error == -EPIPE) {
    // Overrun: measure before the recovery resets the stream's status.
    const OverrunFacts facts{stalled(), buffer_, reader_->sinceRead()};
    const int rc = snd_pcm_recover(pcm_.get(), error, 1);
    if (rc < 0) {
      lose(alsaError(rc));
      return;
    }
    callback_->onOverrun(overrunLoss(facts));
    reader_->forgetReads();  // this loss is reported already
    return;
  }
  if (error == -EINTR || error == -ESTRPIPE) {
    const int rc = snd_pcm_recover(pcm_.get(), error, 1);
    if (rc < 0) lose(alsaError(rc));
    else if (error == -ESTRPIPE) callback_->onRestarted();
    return;
  }
  // -EIO, -ENODEV, -EBADFD and the rest: the device or its server is gone.
  lose(alsaError(error));
}

// How long the device has stood still in its overrun, from its own time
// stamps, when the driver gives them.
std::optional<std::chrono::milliseconds> AlsaSoundInput::stalled() {
  snd_pcm_status_t* status = nullptr;
  snd_pcm_status_alloca(&status);
  if (snd_pcm_status(pcm_.get(), status) != 0) return std::nullopt;
  if (snd_pcm_status_get_state(status) != SND_PCM_STATE_XRUN) return std::nullopt;
  snd_timestamp_t now{};
  snd_timestamp_t stopped{};
  snd_pcm_status_get_tstamp(status, &now);
  snd_pcm_status_get_trigger_tstamp(status, &stopped);
  if (stopped.tv_sec == 0) return std::nullopt;
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::seconds(now.tv_sec - stopped.tv_sec) +
      std::chrono::microseconds(now.tv_usec - stopped.tv_usec));
}

}  // namespace

std::unique_ptr<SoundInput> makeSystemSoundInput(const char* device, ThreadPriorities priorities) {
  return std::make_unique<AlsaSoundInput>(device, priorities);
}


namespace {

struct FreeText {
  void operator()(char* text) const { std::free(text); }
};
// ALSA's texts for the caller to free; absent ones read as empty.
std::string takeText(char* text) {
  const std::unique_ptr<char, FreeText> owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

struct FreeHints {
  void operator()(void** hints) const { snd_device_name_free_hint(hints); }
};

}  // namespace

Result<SoundDevices> listSoundDevices() {
  snd_lib_error_set_handler(quietAlsa);
  SoundDevices found;
  void** rawHints = nullptr;
  if (const int err = snd_device_name_hint(-1, "pcm", &rawHints); err < 0) return alsaError(err);
  const std::unique_ptr<void*, FreeHints> hints(rawHints);
  for (void** hint = hints.get(); *hint; ++hint) {
    // No IOID: the PCM does both directions.
    if (takeText(snd_device_name_get_hint(*hint, "IOID")) == "Output") continue;
    std::string name = takeText(snd_device_name_get_hint(*hint, "NAME"));
    if (name.empty() || name == "null") continue;
    found.captureDevices.push_back(
        {std::move(name), takeText(snd_device_name_get_hint(*hint, "DESC"))});
  }
  for (int card = -1; snd_card_next(&card) == 0 && card >= 0;) {
    char* name = nullptr;
    char* longName = nullptr;
    snd_card_get_name(card, &name);
    snd_card_get_longname(card, &longName);
    found.cards.push_back({card, takeText(name), takeText(longName)});
  }
  return found;
}

}  // namespace vorta
