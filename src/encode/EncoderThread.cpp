// Encoder thread.
//
// Waits on: a whole chunk of PCM in pcmRing, woken by run.encoderEvent after
// every capture write (or polling every 20 ms while the event is closed).
// Owns: the engine stream, mp3Ring's contents, the open output file and its
// buffers; it is the only writer of run.encodedSeconds and run.bytesWritten.
// Ends: when capture has stopped and pcmRing is empty, or when the time limit
// is passed, it flushes the engine and finishes the file; on an engine or file
// error it reports and stops at once. Either way the thread entry publishes
// the result and raises run.encoderDone last.
//
// No MP3 byte is dropped: when an engine output does not fit into mp3Ring,
// what mp3Ring holds goes to the file first, so the file receives every byte
// the engine produced, in order.
#include "encode/EncoderThread.h"

#include <algorithm>
#include <vector>

#include "control/Messages.h"
#include "encode/EngineConfig.h"
#include "platform/Threads.h"

namespace vorta {
namespace {

class SystemPriority final : public PrioritySeam {
 public:
  int current() override { return currentThreadPriority(); }
  void set(int level) override { setCurrentThreadPriority(level); }
};

constexpr int kFailed = -1;

class EncoderBody {
 public:
  explicit EncoderBody(const EncoderContext& c) : c_(c) {}

  int run() {
    if (!start()) return kFailed;
    for (;;) {
      if (captureStopped() && c_.pcmRing.empty()) break;
      bool timeUp = false;
      if (!pass(timeUp)) return kFailed;
      if (timeUp) break;
      priorityStep();
    }
    return flush() ? 0 : kFailed;
  }

 private:
  bool captureStopped() const {
    // Acquire pairs with the capture loop's release increment.
    return c_.run.captureStopped.load(std::memory_order_acquire) != 0;
  }

  bool start() {
    basePriority_ = c_.priority.current();
    EngineVersion version;
    c_.engine.version(version);
    say(Msg::EncoderVersion, version.major(), version.minor());
    say(Msg::ExitHint);
    const std::uint32_t code =
        c_.engine.initStream(makeEngineConfig(c_.settings), samplesPerChunk_, outputSize_, stream_);
    if (code != 0) {
      say(Msg::EncoderInitError, static_cast<unsigned long>(code));
      return false;
    }
    mp3Out_.resize(outputSize_);
    pcmChunk_.resize(samplesPerChunk_);  // int16_t elements: aligned for the engine
    fileBlock_.resize(kFileBlockBytes);
    return createFile();
  }

  bool createFile() {
    int error = 0;
    file_ = c_.files.create(c_.settings.outputName.get(), error);
    return file_ ? true : fileError(Msg::FileCreationError, error);
  }

  bool fileError(Msg what, int error) {
    say(Msg::FileErrorLead, text(what));
    say(Msg::FileErrorSystem, c_.files.errorText(error).c_str());
    return false;
  }

  void waitForChunk() {
    const std::uint32_t chunkBytes = samplesPerChunk_ * 2;
    while (c_.pcmRing.available() < chunkBytes && !captureStopped()) {
      if (!c_.run.encoderEvent.isOpen()) sleepMs(20);
      if (c_.run.encoderEvent.isOpen()) c_.run.encoderEvent.wait(1000);
    }
  }

  bool pass(bool& timeUp) {
    waitForChunk();
    const std::uint32_t len = std::min(c_.pcmRing.available(), samplesPerChunk_ * 2);
    bool crossed = false;
    c_.pcmRing.read(pcmChunk_.data(), len, &crossed);  // len <= available: cannot fail
    std::uint32_t encoded = 0;
    const std::uint32_t code =
        c_.engine.encodeChunk(stream_, len / 2, pcmChunk_.data(), mp3Out_.data(), encoded);
    if (code != 0) {
      c_.engine.closeStream(stream_);
      say(Msg::EncodeChunkFailed, static_cast<unsigned long>(code));
      return false;
    }
    encodedSeconds_ += double(len) / double(c_.settings.bytesPerSecond());
    // Relaxed: a display value with one writer; the atomic keeps it whole.
    c_.run.encodedSeconds.store(encodedSeconds_, std::memory_order_relaxed);
    if (crossed && !switchFile()) return false;
    if (!queueOutput(encoded)) return false;
    if (!writeBlockIfFull()) return false;
    timeUp = c_.settings.timeLimitSeconds != 0 && encodedSeconds_ > c_.settings.timeLimitSeconds;
    return true;
  }

  bool writeToFile(const void* bytes, std::uint32_t length) {
    if (length == 0) return true;
    const int error = file_->write(bytes, length);
    if (error != 0) return fileError(Msg::FileWriteError, error);
    bytesWritten_ += length;
    // Relaxed: a display value with one writer; the atomic keeps it whole.
    c_.run.bytesWritten.store(bytesWritten_, std::memory_order_relaxed);
    return true;
  }

  // Moves everything mp3Ring holds to the file, a block at a time.
  bool drainMp3Ring() {
    for (std::uint32_t held = c_.mp3Ring.available(); held > 0; held = c_.mp3Ring.available()) {
      const std::uint32_t n = std::min(held, kFileBlockBytes);
      c_.mp3Ring.read(fileBlock_.data(), n);
      if (!writeToFile(fileBlock_.data(), n)) return false;
    }
    return true;
  }

  bool switchFile() {
    if (!drainMp3Ring()) return false;
    const int error = file_->close();
    file_.reset();
    if (error != 0) return fileError(Msg::FileWriteError, error);
    return createFile();
  }

  bool queueOutput(std::uint32_t encoded) {
    if (encoded == 0) return true;
    if (encoded > c_.mp3Ring.size() - c_.mp3Ring.available() && !drainMp3Ring()) return false;
    // Larger than the whole ring (never with LAME's output sizes): straight
    // to the file, which the drain has brought up to date.
    if (encoded > c_.mp3Ring.size()) return writeToFile(mp3Out_.data(), encoded);
    c_.mp3Ring.write(mp3Out_.data(), encoded, false);
    return true;
  }

  bool writeBlockIfFull() {
    if (c_.mp3Ring.available() < kFileBlockBytes) return true;
    c_.mp3Ring.read(fileBlock_.data(), kFileBlockBytes);
    return writeToFile(fileBlock_.data(), kFileBlockBytes);
  }

  void priorityStep() {
    if (basePriority_ == kPriorityAboveNormal) return;
    const std::uint64_t size = c_.pcmRing.size();
    if (size == 0) return;
    // 64-bit: 100 x a large buffer size does not fit 32 bits.
    const int freePercent = static_cast<int>((size - c_.pcmRing.available()) * 100 / size);
    if (freePercent == prevFreePercent_) return;
    if (freePercent < 50 && prevFreePercent_ >= 50) {
      c_.priority.set(kPriorityAboveNormal);
    } else if (freePercent >= 70 && prevFreePercent_ < 70) {
      c_.priority.set(basePriority_);
    }
    prevFreePercent_ = freePercent;
  }

  bool flush() {
    std::uint32_t count = 0;
    const std::uint32_t code = c_.engine.deinitStream(stream_, mp3Out_.data(), count);
    c_.engine.closeStream(stream_);
    if (code != 0) {
      say(Msg::DeinitStreamFailed, static_cast<unsigned long>(code));
      return false;
    }
    if (!queueOutput(count) || !drainMp3Ring()) return false;
    const int error = file_->close();
    file_.reset();
    return error == 0 ? true : fileError(Msg::FileWriteError, error);
  }

  const EncoderContext& c_;
  int basePriority_ = kPriorityNormal;
  std::uint32_t samplesPerChunk_ = 0;
  std::uint32_t outputSize_ = 0;
  std::uint32_t stream_ = 0;
  std::vector<std::uint8_t> mp3Out_;
  std::vector<std::int16_t> pcmChunk_;
  std::vector<std::uint8_t> fileBlock_;
  std::unique_ptr<OutputFile> file_;
  double encodedSeconds_ = 0.0;
  std::uint64_t bytesWritten_ = 0;
  int prevFreePercent_ = -1;
};

}  // namespace

PrioritySeam& systemPriority() {
  static SystemPriority priority;
  return priority;
}

int runEncoder(const EncoderContext& context) { return EncoderBody(context).run(); }

EncoderThread::EncoderThread(const EncoderContext& context, std::optional<int> startPriority)
    : thread_([context, startPriority] {
        if (startPriority) context.priority.set(*startPriority);
        const int result = runEncoder(context);
        // Relaxed: the release increment below publishes it.
        context.run.encoderFailed.store(result != 0, std::memory_order_relaxed);
        context.run.encoderDone.fetch_add(1, std::memory_order_release);
      }) {}

EncoderThread::~EncoderThread() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace vorta
