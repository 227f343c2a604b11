// Sound input over ALSA: the capture PCM "default", or the one named by the
// environment variable AUDIODEV.
//
// Threads and what they touch:
// - The caller's thread (the capture loop) calls every method.
// - One service thread per open device reads the PCM and fills the queued
//   buffers. It is the only thread that calls ALSA while `reading_` is true;
//   the caller's thread calls ALSA (open, drop, prepare, close) only while
//   the service thread is parked (not reading), which stop(), reset(),
//   start() and close() wait for under the mutex.
// - Guarded by mutex_: queue_, headBytes_, running_, quit_, resetRequested_,
//   reading_, lost_. The service thread copies into the head buffer under the
//   mutex, so reset() never races with a half-done copy.
// - Service thread only: scratch_ and its positions, lastReadMs_, errorRun_,
//   the stall measurement (stall_).
// - Caller thread only: pcm_ (between open and close), callback_, trouble_,
//   format_, periodFrames_, bufferMs_, and CaptureBuffer::prepared.
// Callbacks are never made with the mutex held, so a callback may call back
// into add(). Data messages come from the service thread one at a time.
// - Opening (in deviceCount() and open()) runs on a helper thread of its own,
//   which shares nothing with this object (see openWithinLimit).
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Process.h"
#include "platform/SoundInput.h"

namespace vorta {
namespace {

constexpr unsigned kPeriodUs = 100000;   // about 100 ms per read
constexpr unsigned kBufferUs = 800000;   // small buffers overrun at start with the pulse plugin
constexpr int kWaitMs = 100;             // longest wait in ALSA, so stop() is never held up long
constexpr int kErrorsBeforeLoss = 10;    // failed reads in a row that count as a lost device
// A gap this long between two reads may have lost sound without an overrun
// being reported: the pulse plugin, for one, never reports one; its server
// keeps what the stream could not take and drops the rest.
constexpr std::int64_t kStallMs = 500;
// After a stall the backlog arrives in bursts; the measurement trusts "caught
// up" only after this long of it, and gives up after kStallGiveUpMs.
constexpr std::int64_t kStallSettleMs = 1000;
constexpr std::int64_t kStallGiveUpMs = 30000;
constexpr std::int64_t kNoReadYet = -1;
// The pulse plugin waits without a limit for its server to confirm a stop or
// a close; a server that has frozen would hold the program's end for ever.
constexpr auto kServerCallLimit = std::chrono::seconds(3);

void dropPcm(snd_pcm_t* pcm) { snd_pcm_drop(pcm); }
void closePcm(snd_pcm_t* pcm) {
  snd_pcm_drop(pcm);
  snd_pcm_close(pcm);
}

// Runs a call on the PCM on a thread of its own and waits at most
// kServerCallLimit for it. False when it did not return in time: the call
// then keeps the PCM, which nobody may touch or free again (the process
// ends soon after; the call may finish whenever the server wakes up).
bool callWithinLimit(snd_pcm_t* pcm, void (*call)(snd_pcm_t*)) {
  struct Pending {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
  };
  auto pending = std::make_shared<Pending>();
  std::thread worker([pending, pcm, call] {
    call(pcm);
    std::lock_guard<std::mutex> lock(pending->mutex);
    pending->finished = true;
    pending->done.notify_all();
  });
  std::unique_lock<std::mutex> lock(pending->mutex);
  const bool inTime =
      pending->done.wait_for(lock, kServerCallLimit, [&] { return pending->finished; });
  lock.unlock();
  if (inTime) {
    worker.join();
  } else {
    worker.detach();
  }
  return inTime;
}

// What the opening settled on, for the service thread's reads.
struct PcmSetup {
  snd_pcm_uframes_t periodFrames = 0;
  int bufferMs = 0;
};

// The outcome of an open made on a helper thread.
struct Opened {
  int error = 0;
  snd_pcm_t* pcm = nullptr;  // owned by whoever takes the outcome
  PcmSetup setup;
};

// The pulse plugin waits without a limit for its server while it opens and
// configures a PCM too: a frozen server would hold the start for ever, deaf
// to Ctrl+C, which only raises the stop flag.
constexpr auto kOpenLimit = std::chrono::seconds(5);
constexpr auto kOpenPollStep = std::chrono::milliseconds(50);

// Runs `job` on a helper thread and waits for it at most kOpenLimit, or until
// a stop signal comes (one already pending does not cut the wait short: an
// open is normally quick, and the recording then ends as usual). Returns its
// outcome, or -ETIMEDOUT / -ECANCELED when the wait ended first. The helper
// then keeps running on its own: it holds everything it uses (the job with
// its copies, the shared outcome) and closes the PCM it may still get, so it
// never touches memory of the caller's.
Opened openWithinLimit(std::function<Opened()> job) {
  struct Pending {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    Opened outcome;
  };
  auto pending = std::make_shared<Pending>();
  std::thread helper([pending, job = std::move(job)] {
    Opened outcome = job();
    std::unique_lock<std::mutex> lock(pending->mutex);
    if (pending->abandoned) {
      lock.unlock();
      if (outcome.pcm) snd_pcm_close(outcome.pcm);
      return;
    }
    pending->outcome = outcome;
    pending->finished = true;
    pending->done.notify_all();
  });
  const bool stopBefore = stopSignalPending();
  const auto stopCame = [stopBefore] { return !stopBefore && stopSignalPending(); };
  const auto deadline = std::chrono::steady_clock::now() + kOpenLimit;
  std::unique_lock<std::mutex> lock(pending->mutex);
  while (!pending->finished && !stopCame() && std::chrono::steady_clock::now() < deadline) {
    pending->done.wait_for(lock, kOpenPollStep);
  }
  if (pending->finished) {
    lock.unlock();
    helper.join();
    return pending->outcome;
  }
  pending->abandoned = true;
  lock.unlock();
  helper.detach();
  Opened failed;
  failed.error = stopCame() ? -ECANCELED : -ETIMEDOUT;
  return failed;
}

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

// ALSA prints its own diagnostics to stderr, which would tear the status
// line; the program reports errors itself.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

const char* deviceName() {
  const char* name = std::getenv("AUDIODEV");
  return (name && *name) ? name : "default";
}

std::int64_t steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class AlsaSoundInput final : public SoundInput {
 public:
  AlsaSoundInput() { snd_lib_error_set_handler(quietAlsa); }
  ~AlsaSoundInput() override { close(); }

  int deviceCount() override;
  int open(const SoundFormat& format, SoundCallback& callback,
           SoundTroubleListener* trouble) override;
  std::string errorText(int code) override;
  int prepare(CaptureBuffer& buffer) override;
  int add(CaptureBuffer& buffer) override;
  int start() override;
  int stop() override;
  int reset() override;
  int close() override;
  int unprepare(CaptureBuffer& buffer) override;

 private:
  void parkService(std::unique_lock<std::mutex>& lock);
  bool queued(const CaptureBuffer& buffer) const;

  // Service thread.
  void serve();
  void handBackAll();
  void readOnce();
  void distribute();
  void deliver(CaptureBuffer* buffer, std::uint32_t bytes);
  void onReadError(int error);
  int estimateLostMs();
  void loseDevice(int error);
  void measureStall(std::int64_t now, snd_pcm_sframes_t frames);
  std::int64_t framesToMs(std::int64_t frames) const;

  // Caller thread only.
  // An open in deviceCount() that the server never answered: open() reports
  // it at once instead of waiting all over again.
  int pendingOpenError_ = 0;
  PcmHandle pcm_;
  SoundCallback* callback_ = nullptr;
  SoundTroubleListener* trouble_ = nullptr;
  SoundFormat format_;
  snd_pcm_uframes_t periodFrames_ = 0;
  int bufferMs_ = 0;
  std::thread service_;

  // Guarded by mutex_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<CaptureBuffer*> queue_;
  std::uint32_t headBytes_ = 0;  // bytes already in the head buffer
  bool open_ = false;
  bool running_ = false;
  bool quit_ = false;
  bool resetRequested_ = false;
  bool reading_ = false;  // the service thread is in ALSA or a callback
  bool lost_ = false;

  // Service thread only.
  std::vector<std::uint8_t> scratch_;
  std::size_t scratchStart_ = 0;
  std::size_t scratchEnd_ = 0;
  std::int64_t lastReadMs_ = 0;
  std::int64_t lastAvail_ = 0;  // frames still waiting in the device after the last read
  int errorRun_ = 0;

  // A stall being measured: from the last read before a long gap until the
  // reads have caught up with the device again. The sound the device took in
  // meanwhile, less what was read and what still waits, was lost.
  struct Stall {
    bool open = false;
    std::int64_t fromMs = 0;       // the read before the gap
    std::int64_t gapEndMs = 0;     // the first read after it
    std::int64_t waitingAtStart = 0;
    std::int64_t framesRead = 0;
    std::int64_t caughtUpSinceMs = kNoReadYet;
  } stall_;
};

int AlsaSoundInput::deviceCount() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_) return 1;
  }
  const Opened probe = openWithinLimit([name = std::string(deviceName())] {
    Opened outcome;
    snd_pcm_t* raw = nullptr;
    outcome.error = snd_pcm_open(&raw, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (outcome.error == 0) snd_pcm_close(raw);
    return outcome;
  });
  if (probe.error == -ENOENT || probe.error == -ENODEV) return 0;
  if (probe.error == -ETIMEDOUT || probe.error == -ECANCELED) pendingOpenError_ = probe.error;
  // Any other failure (busy, no server) is left for open() to report with
  // ALSA's own text.
  return 1;
}

// Runs on the opening helper thread: touches nothing but its arguments.
int configurePcm(snd_pcm_t* pcm, const SoundFormat& format, PcmSetup& setup) {
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  int err = snd_pcm_hw_params_any(pcm, hw);
  // Let the plug layer convert rates the hardware lacks.
  if (err >= 0) err = snd_pcm_hw_params_set_rate_resample(pcm, hw, 1);
  if (err >= 0) err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (err >= 0) err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE);
  if (err >= 0)
    err = snd_pcm_hw_params_set_channels(pcm, hw, static_cast<unsigned>(format.channels));
  if (err >= 0)
    err = snd_pcm_hw_params_set_rate(pcm, hw, static_cast<unsigned>(format.samplesPerSecond), 0);
  if (err < 0) return err;
  unsigned periodUs = kPeriodUs;
  unsigned bufferUs = kBufferUs;
  int dir = 0;
  // Near values: a device that cannot meet them exactly still records.
  snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, &dir);
  snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, &dir);
  err = snd_pcm_hw_params(pcm, hw);
  if (err < 0) return err;
  snd_pcm_uframes_t bufferFrames = 0;
  snd_pcm_uframes_t periodFrames = 0;
  snd_pcm_hw_params_get_period_size(hw, &periodFrames, &dir);
  snd_pcm_hw_params_get_buffer_size(hw, &bufferFrames);
  if (periodFrames == 0) periodFrames = static_cast<snd_pcm_uframes_t>(format.samplesPerSecond / 10);
  setup.periodFrames = periodFrames;
  setup.bufferMs =
      static_cast<int>(bufferFrames * 1000 / static_cast<unsigned>(format.samplesPerSecond));

  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  err = snd_pcm_sw_params_current(pcm, sw);
  if (err >= 0) err = snd_pcm_sw_params_set_avail_min(pcm, sw, periodFrames);
  // Time stamps let an overrun be measured from the moment it happened.
  if (err >= 0) err = snd_pcm_sw_params_set_tstamp_mode(pcm, sw, SND_PCM_TSTAMP_ENABLE);
  if (err >= 0) err = snd_pcm_sw_params(pcm, sw);
  return err < 0 ? err : 0;
}

int AlsaSoundInput::open(const SoundFormat& format, SoundCallback& callback,
                         SoundTroubleListener* trouble) {
  if (pcm_) return sound::kAllocated;
  if (pendingOpenError_ != 0) return std::exchange(pendingOpenError_, 0);
  Opened opened = openWithinLimit([name = std::string(deviceName()), format] {
    Opened outcome;
    snd_pcm_t* raw = nullptr;
    outcome.error = snd_pcm_open(&raw, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (outcome.error < 0) return outcome;
    outcome.error = configurePcm(raw, format, outcome.setup);
    if (outcome.error < 0) {
      snd_pcm_close(raw);
      return outcome;
    }
    outcome.pcm = raw;
    return outcome;
  });
  if (opened.error < 0) return opened.error;
  PcmHandle pcm(opened.pcm);
  periodFrames_ = opened.setup.periodFrames;
  bufferMs_ = opened.setup.bufferMs;

  pcm_ = std::move(pcm);
  callback_ = &callback;
  trouble_ = trouble;
  format_ = format;
  scratch_.assign(periodFrames_ * static_cast<unsigned>(format.blockAlign), 0);
  scratchStart_ = scratchEnd_ = 0;
  errorRun_ = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
    headBytes_ = 0;
    open_ = true;
    running_ = quit_ = resetRequested_ = reading_ = lost_ = false;
  }
  callback.onSound(SoundMessage::Open, nullptr);
  service_ = std::thread(&AlsaSoundInput::serve, this);
  return sound::kOk;
}

std::string AlsaSoundInput::errorText(int code) {
  if (code < 0) return snd_strerror(code);
  return "sound input error " + std::to_string(code);
}

int AlsaSoundInput::prepare(CaptureBuffer& buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return sound::kInvalidHandle;
  buffer.prepared = true;
  return sound::kOk;
}

bool AlsaSoundInput::queued(const CaptureBuffer& buffer) const {
  return std::find(queue_.begin(), queue_.end(), &buffer) != queue_.end();
}

int AlsaSoundInput::add(CaptureBuffer& buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return sound::kInvalidHandle;
  if (!buffer.prepared) return sound::kUnprepared;
  if (queued(buffer)) return sound::kError;
  // bytesRecorded is left alone: the callback that handed the buffer back
  // may still be reading it on the service thread. Relaxed: the service
  // thread sees the buffer only through the queue, under the mutex.
  buffer.done.store(false, std::memory_order_relaxed);
  queue_.push_back(&buffer);
  changed_.notify_all();
  return sound::kOk;
}

int AlsaSoundInput::unprepare(CaptureBuffer& buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queued(buffer)) return sound::kError;
  buffer.prepared = false;
  return sound::kOk;
}

// Stops reading and waits until the service thread is out of ALSA and out
// of any callback, so that the caller may use the PCM.
void AlsaSoundInput::parkService(std::unique_lock<std::mutex>& lock) {
  running_ = false;
  changed_.notify_all();
  changed_.wait(lock, [this] { return !reading_; });
}

int AlsaSoundInput::start() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!open_ || !pcm_) return sound::kInvalidHandle;
  if (running_) return sound::kOk;
  parkService(lock);
  // After a stop the PCM is in SETUP; the service thread starts a PREPARED
  // stream itself before it waits for data.
  if (snd_pcm_state(pcm_.get()) == SND_PCM_STATE_SETUP) snd_pcm_prepare(pcm_.get());
  running_ = true;
  changed_.notify_all();
  return sound::kOk;
}

int AlsaSoundInput::stop() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!open_) return sound::kInvalidHandle;
  parkService(lock);
  // A stop the server never confirms leaves the PCM to the waiting call.
  if (pcm_ && !callWithinLimit(pcm_.get(), dropPcm)) static_cast<void>(pcm_.release());
  return sound::kOk;
}

int AlsaSoundInput::reset() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!open_) return sound::kInvalidHandle;
  parkService(lock);
  // The buffers go back from the service thread, like every Data message.
  resetRequested_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return !resetRequested_; });
  return sound::kOk;
}

int AlsaSoundInput::close() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!open_) return sound::kInvalidHandle;
  }
  reset();  // every queued buffer goes back before the device closes
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    changed_.notify_all();
  }
  if (service_.joinable()) service_.join();
  // From here no callback comes from the service thread.
  if (pcm_) callWithinLimit(pcm_.release(), closePcm);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
  }
  SoundCallback* callback = callback_;
  callback_ = nullptr;
  trouble_ = nullptr;
  callback->onSound(SoundMessage::Close, nullptr);
  return sound::kOk;
}

// ---- service thread ----

void AlsaSoundInput::serve() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      // Nothing to read into, stopped, or lost: wait, never spin.
      changed_.wait(lock, [this] {
        return quit_ || resetRequested_ || (running_ && !lost_ && !queue_.empty());
      });
      if (resetRequested_) {
        lock.unlock();
        handBackAll();
        continue;
      }
      if (quit_) return;
      reading_ = true;
    }
    readOnce();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reading_ = false;
    }
    changed_.notify_all();
  }
}

// Every queued buffer goes back, the partly filled head with what it holds.
void AlsaSoundInput::handBackAll() {
  scratchStart_ = scratchEnd_ = 0;  // read but not yet copied: dropped with the stop
  for (;;) {
    CaptureBuffer* buffer = nullptr;
    std::uint32_t bytes = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty()) {
        resetRequested_ = false;
        changed_.notify_all();
        return;
      }
      buffer = queue_.front();
      queue_.pop_front();
      bytes = headBytes_;
      headBytes_ = 0;
    }
    deliver(buffer, bytes);
  }
}

void AlsaSoundInput::deliver(CaptureBuffer* buffer, std::uint32_t bytes) {
  buffer->bytesRecorded = bytes;
  // Release: whoever sees done also sees the bytes and the count.
  buffer->done.store(true, std::memory_order_release);
  callback_->onSound(SoundMessage::Data, buffer);
}

void AlsaSoundInput::readOnce() {
  if (scratchStart_ < scratchEnd_) {
    distribute();  // bytes left over from a read that filled the last buffer
    return;
  }
  snd_pcm_t* pcm = pcm_.get();
  if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
    const int err = snd_pcm_start(pcm);
    if (err < 0) onReadError(err);
    // No read yet: the wait for a stream's first sound (the pulse plugin
    // takes a second or more) is no stall, and nothing is lost in it.
    lastReadMs_ = kNoReadYet;
    lastAvail_ = 0;
    stall_.open = false;
    return;
  }
  const int ready = snd_pcm_wait(pcm, kWaitMs);
  if (ready < 0) {
    onReadError(ready);
    return;
  }
  if (ready == 0) return;  // nothing yet; the loop looks at its flags again
  const snd_pcm_sframes_t frames = snd_pcm_readi(pcm, scratch_.data(), periodFrames_);
  if (frames == -EAGAIN || frames == 0) {
    // Some plugins wake the poll before a period is there; don't spin on it.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return;
  }
  if (frames < 0) {
    onReadError(static_cast<int>(frames));
    return;
  }
  measureStall(steadyMs(), frames);
  errorRun_ = 0;
  scratchStart_ = 0;
  scratchEnd_ = static_cast<std::size_t>(frames) * static_cast<unsigned>(format_.blockAlign);
  distribute();
}

// Copies what was read into the queued buffers, in order; a buffer goes back
// when it holds as many whole frames as fit.
void AlsaSoundInput::distribute() {
  const auto align = static_cast<std::uint32_t>(format_.blockAlign);
  while (scratchStart_ < scratchEnd_) {
    CaptureBuffer* full = nullptr;
    std::uint32_t fullBytes = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!running_ || queue_.empty()) return;  // kept until a buffer comes
      CaptureBuffer* head = queue_.front();
      const std::uint32_t capacity = head->length - head->length % align;
      const auto n = static_cast<std::uint32_t>(
          std::min<std::size_t>(capacity - headBytes_, scratchEnd_ - scratchStart_));
      std::memcpy(head->data + headBytes_, scratch_.data() + scratchStart_, n);
      headBytes_ += n;
      scratchStart_ += n;
      if (headBytes_ >= capacity) {
        queue_.pop_front();
        full = head;
        fullBytes = headBytes_;
        headBytes_ = 0;
      }
    }
    if (full) deliver(full, fullBytes);
  }
}

void AlsaSoundInput::onReadError(int error) {
  if (++errorRun_ > kErrorsBeforeLoss) {
    loseDevice(error);
    return;
  }
  if (error == -EPIPE) {
    // Overrun: measure before the recovery resets the stream's status.
    const int lostMs = estimateLostMs();
    const int rc = snd_pcm_recover(pcm_.get(), error, 1);
    if (rc < 0) {
      loseDevice(rc);
      return;
    }
    if (trouble_) trouble_->onOverrun(lostMs);
    lastReadMs_ = steadyMs();
    lastAvail_ = 0;
    stall_.open = false;  // this loss is reported already
    return;
  }
  if (error == -EINTR || error == -ESTRPIPE) {
    const int rc = snd_pcm_recover(pcm_.get(), error, 1);
    if (rc < 0) loseDevice(rc);
    return;
  }
  // -EIO, -ENODEV, -EBADFD and the rest: the device or its server is gone.
  loseDevice(error);
}

// Everything captured since the last read is lost: the device's buffer is
// discarded by the recovery, and the time it stood still on top. From the
// stream's time stamps when the driver gives them, else from the wall clock.
int AlsaSoundInput::estimateLostMs() {
  snd_pcm_status_t* status = nullptr;
  snd_pcm_status_alloca(&status);
  if (snd_pcm_status(pcm_.get(), status) == 0 &&
      snd_pcm_status_get_state(status) == SND_PCM_STATE_XRUN) {
    snd_timestamp_t now{};
    snd_timestamp_t stopped{};
    snd_pcm_status_get_tstamp(status, &now);
    snd_pcm_status_get_trigger_tstamp(status, &stopped);
    const std::int64_t stalledMs = (static_cast<std::int64_t>(now.tv_sec) - stopped.tv_sec) * 1000 +
                                   (static_cast<std::int64_t>(now.tv_usec) - stopped.tv_usec) / 1000;
    if (stopped.tv_sec != 0 && stalledMs >= 0 && stalledMs < 24LL * 3600 * 1000)
      return static_cast<int>(stalledMs) + bufferMs_;
  }
  if (lastReadMs_ == kNoReadYet) return std::max(bufferMs_, 1);
  const std::int64_t sinceRead = steadyMs() - lastReadMs_;
  return static_cast<int>(std::clamp<std::int64_t>(sinceRead, 1, 24LL * 3600 * 1000));
}

std::int64_t AlsaSoundInput::framesToMs(std::int64_t frames) const {
  return frames * 1000 / format_.samplesPerSecond;
}

// Called after every successful read. A long gap since the previous read
// (the process was stopped, or starved of CPU) opens a measurement; once the
// reads have caught up with the device it closes: whatever the device took in
// over that time and the reads did not get was lost, and is reported like an
// overrun. Counting frames against the monotonic clock only across the gap
// keeps the slow drift between the sound card's clock and the system's out of
// the figure.
void AlsaSoundInput::measureStall(std::int64_t now, snd_pcm_sframes_t frames) {
  if (!stall_.open && lastReadMs_ != kNoReadYet && now - lastReadMs_ > kStallMs) {
    stall_ = Stall{true, lastReadMs_, now, lastAvail_, 0, kNoReadYet};
  }
  const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_.get());
  lastAvail_ = avail > 0 ? avail : 0;
  lastReadMs_ = now;
  if (!stall_.open) return;
  stall_.framesRead += frames;
  const bool caughtUp = lastAvail_ < static_cast<std::int64_t>(periodFrames_);
  if (now - stall_.gapEndMs > kStallGiveUpMs) {
    stall_.open = false;  // never caught up: no figure worth giving
    return;
  }
  // The backlog can come in bursts with short pauses between them: only a
  // whole settling time of reads that found the device caught up ends it.
  if (!caughtUp) {
    stall_.caughtUpSinceMs = kNoReadYet;
    return;
  }
  if (stall_.caughtUpSinceMs == kNoReadYet) stall_.caughtUpSinceMs = now;
  if (now - stall_.caughtUpSinceMs < kStallSettleMs) return;
  stall_.open = false;
  const std::int64_t tookInMs = now - stall_.fromMs;
  const std::int64_t gotMs = framesToMs(stall_.framesRead + lastAvail_ - stall_.waitingAtStart);
  const std::int64_t lostMs = tookInMs - gotMs;
  // Below two periods the figure is within the measurement's own error.
  const std::int64_t noiseMs = std::max<std::int64_t>(250, 2 * framesToMs(periodFrames_));
  if (lostMs > noiseMs && trouble_) trouble_->onOverrun(static_cast<int>(lostMs));
}

// Reported once; the service thread then reads no more (it waits for a
// reset or the close).
void AlsaSoundInput::loseDevice(int error) {
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    first = !lost_;
    lost_ = true;
  }
  if (first && trouble_) trouble_->onDeviceLost(snd_strerror(error));
}

}  // namespace

std::unique_ptr<SoundInput> makeAlsaSoundInput() { return std::make_unique<AlsaSoundInput>(); }

}  // namespace vorta
