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
//
// A failed write never leaves a file ending inside a frame: the body reads
// the frame ends from the headers as the bytes go by, and when a write fails
// (a full disk) it cuts the file back to the last whole frame it holds before
// the error is reported. bytesWritten counts the bytes of whole frames only,
// so the figure on screen is always a length a file can end at, and after a
// failed write it is exactly what the file holds.
//
// At a split the old file ends with its last whole frame and the rest of the
// frame in progress starts the next file, so every hourly file can be played
// on its own from its first byte, while the files joined are still exactly
// the one stream the engine produced.
#include "encode/EncoderThread.h"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "base/Messages.h"
#include "encode/EngineConfig.h"
#include "platform/Threads.h"

namespace vorta {
namespace {

class SystemPriority final : public PrioritySeam {
 public:
  PriorityLevel current() override { return currentThreadPriority(); }
  void set(PriorityLevel level) override { setCurrentThreadPriority(level); }
};

constexpr int kFailed = -1;

// The length of the MPEG audio Layer III frame whose 4 header bytes are
// given, 0 when they are no such header.
std::uint32_t layer3FrameLength(const std::uint8_t* h) {
  static constexpr std::uint16_t kKbitMpeg1[16] = {0,   32,  40,  48,  56,  64,  80, 96,
                                                   112, 128, 160, 192, 224, 256, 320, 0};
  static constexpr std::uint16_t kKbitMpeg2[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                                   64, 80, 96, 112, 128, 144, 160, 0};
  static constexpr std::uint32_t kRateMpeg1[4] = {44100, 48000, 32000, 0};
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1) return 0;
  const int version = (h[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  if (version == 1) return 0;
  const bool mpeg1 = version == 3;
  const std::uint32_t kbit = (mpeg1 ? kKbitMpeg1 : kKbitMpeg2)[h[2] >> 4];
  const std::uint32_t rate = kRateMpeg1[(h[2] >> 2) & 3] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  if (kbit == 0 || rate == 0) return 0;
  return (mpeg1 ? 144000 : 72000) * kbit / rate + ((h[2] >> 1) & 1);
}

// Where the frames of the current file end, as offsets in that file, read
// from the frame headers as the engine's bytes go by. The engine's outputs
// do not end with its frames (the bit reservoir lets a call hand out part of
// a frame), so the frame ends must be read from the stream itself.
//
// Ends beyond what the file holds wait in a fixed ring; once the file holds
// an end it becomes the file's whole length. Capacity: a waiting end belongs
// to a frame whose header is in mp3Ring (at most kMp3RingBytes), and the
// smallest frame the engine writes is 24 bytes (8 kbit/s at 24 kHz), so at
// most 20480 / 24 + 1 = 854 ends wait at once. Should it ever overfill, the
// newest end is moved on instead of adding one: the ends left are still real
// frame ends, there are only fewer places to cut.
//
// A stream that does not start with a frame header, or loses the chain of
// headers, is not the engine's: from there on no ends are known (lost()).
class FrameEnds {
 public:
  // The old file, of `length` bytes, holds everything sent: offsets count
  // from the next file's start. The frame chain goes on across files (the
  // next file may start with the rest of the frame the old one ended in).
  void startNextFile(std::uint64_t length) {
    sent_ -= length;
    nextFrame_ -= length;
    for (std::uint32_t i = 0; i < count_; ++i) ends_[(first_ + i) % kCapacity] -= length;
    whole_ = 0;
  }

  // Bytes that follow everything sent towards the file so far.
  void add(const std::uint8_t* bytes, std::uint32_t length) {
    const std::uint64_t from = sent_;
    sent_ += length;
    while (!lost_ && nextFrame_ + headerHave_ < sent_) {
      header_[headerHave_] = bytes[nextFrame_ + headerHave_ - from];
      if (++headerHave_ < header_.size()) continue;
      headerHave_ = 0;
      const std::uint32_t frame = layer3FrameLength(header_.data());
      if (frame == 0) {
        lost_ = true;
        return;
      }
      nextFrame_ += frame;
      push(nextFrame_);
    }
  }

  // The file now holds its first `held` bytes.
  void reached(std::uint64_t held) {
    while (count_ > 0 && ends_[first_] <= held) {
      whole_ = ends_[first_];
      first_ = (first_ + 1) % kCapacity;
      --count_;
    }
  }

  // The largest frame end the file holds: its length in whole frames.
  std::uint64_t whole() const { return whole_; }

  // The largest frame end at or before `limit` (an offset in the file).
  std::uint64_t lastEndWithin(std::uint64_t limit) const {
    std::uint64_t last = whole_;
    for (std::uint32_t i = 0; i < count_; ++i) {
      const std::uint64_t end = ends_[(first_ + i) % kCapacity];
      if (end > limit) break;
      last = end;
    }
    return last;
  }
  bool lost() const { return lost_; }

 private:
  void push(std::uint64_t end) {
    if (count_ == kCapacity) {
      ends_[(first_ + count_ - 1) % kCapacity] = end;
      return;
    }
    ends_[(first_ + count_) % kCapacity] = end;
    ++count_;
  }

  static constexpr std::uint32_t kCapacity = 1024;
  std::array<std::uint64_t, kCapacity> ends_{};
  std::uint32_t first_ = 0;
  std::uint32_t count_ = 0;
  std::uint64_t sent_ = 0;       // bytes sent towards the file: written or in mp3Ring
  std::uint64_t whole_ = 0;
  std::uint64_t nextFrame_ = 0;  // where the next frame header starts
  std::array<std::uint8_t, 4> header_{};
  std::uint32_t headerHave_ = 0;
  bool lost_ = false;
};

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
    carried_.reserve(tail_.size());
    return createFile(c_.settings.outputName);
  }

  bool createFile(const std::string& name) {
    int error = 0;
    file_ = c_.files.create(name, error);
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
    std::uint64_t markTag = 0;
    c_.pcmRing.read(pcmChunk_.data(), len, &markTag);  // len <= available: cannot fail
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
    if (markTag != 0 && !switchFile()) return false;
    if (!queueOutput(encoded)) return false;
    if (!writeBlockIfFull()) return false;
    timeUp = c_.settings.timeLimitSeconds != 0 && encodedSeconds_ > c_.settings.timeLimitSeconds;
    return true;
  }

  bool writeToFile(const void* bytes, std::uint32_t length) {
    if (length == 0) return true;
    const int error = file_->write(bytes, length);
    if (error != 0) {
      cutToWholeFrames();
      return fileError(Msg::FileWriteError, error);
    }
    fileBytes_ += length;
    keepTail(static_cast<const std::uint8_t*>(bytes), length);
    ends_.reached(fileBytes_);
    publishBytesWritten();
    return true;
  }

  // The last bytes written to the current file, enough for one frame of any
  // rate (the largest is 1441 bytes): a split can take back the start of a
  // frame the file already holds and carry it into the next file.
  void keepTail(const std::uint8_t* bytes, std::uint32_t length) {
    if (length >= tail_.size()) {
      std::copy(bytes + length - tail_.size(), bytes + length, tail_.begin());
      tailBytes_ = static_cast<std::uint32_t>(tail_.size());
      return;
    }
    const std::uint32_t keep =
        std::min<std::uint32_t>(tailBytes_, static_cast<std::uint32_t>(tail_.size()) - length);
    std::copy(tail_.begin() + (tailBytes_ - keep), tail_.begin() + tailBytes_, tail_.begin());
    std::copy(bytes, bytes + length, tail_.begin() + keep);
    tailBytes_ = keep + length;
  }

  // The failed write left the file as it was, which may be inside a frame
  // (blocks are cut without regard to frames): back to the last whole one.
  // Should the cut itself fail the write error is still the one to report.
  void cutToWholeFrames() {
    if (ends_.lost() || ends_.whole() == fileBytes_) return;
    if (file_->truncate(ends_.whole()) == 0) fileBytes_ = ends_.whole();
  }

  void publishBytesWritten() {
    // Relaxed: a display value with one writer; the atomic keeps it whole.
    const std::uint64_t current = ends_.lost() ? fileBytes_ : ends_.whole();
    c_.run.bytesWritten.store(finishedFilesBytes_ + current, std::memory_order_relaxed);
  }

  // Moves up to `limit` bytes of what mp3Ring holds to the file, a block at
  // a time (everything by default).
  bool drainMp3Ring(std::uint64_t limit = std::numeric_limits<std::uint64_t>::max()) {
    for (;;) {
      const std::uint64_t n = std::min<std::uint64_t>(
          {c_.mp3Ring.available(), kFileBlockBytes, limit});
      if (n == 0) return true;
      c_.mp3Ring.read(fileBlock_.data(), static_cast<std::uint32_t>(n));
      if (!writeToFile(fileBlock_.data(), static_cast<std::uint32_t>(n))) return false;
      limit -= n;
    }
  }

  // Ends the old file at its last whole frame. Returns the bytes of a frame
  // that the file already held and gave back, which the next file starts
  // with; the rest of that frame is still in mp3Ring.
  bool finishAtFrameEnd(std::vector<std::uint8_t>& carried) {
    if (ends_.lost()) return drainMp3Ring();
    const std::uint64_t sent = fileBytes_ + c_.mp3Ring.available();
    const std::uint64_t end = ends_.lastEndWithin(sent);
    if (end >= fileBytes_) return drainMp3Ring(end - fileBytes_);
    // The last block stopped inside a frame whose end the engine has not
    // produced yet: take the frame's start back from the file.
    const std::uint64_t back = fileBytes_ - end;
    if (back > tailBytes_ || file_->truncate(end) != 0) return drainMp3Ring();
    carried.assign(tail_.begin() + (tailBytes_ - back), tail_.begin() + tailBytes_);
    fileBytes_ = end;
    return true;
  }

  bool switchFile() {
    carried_.clear();
    if (!finishAtFrameEnd(carried_)) return false;
    const int error = file_->close();
    file_.reset();
    if (error != 0) return fileError(Msg::FileWriteError, error);
    finishedFilesBytes_ += fileBytes_;
    ends_.startNextFile(fileBytes_);
    fileBytes_ = 0;
    tailBytes_ = 0;
    if (!createFile(c_.run.nextSplitName.get())) return false;
    return writeToFile(carried_.data(), static_cast<std::uint32_t>(carried_.size()));
  }

  bool queueOutput(std::uint32_t encoded) {
    if (encoded == 0) return true;
    if (encoded > c_.mp3Ring.size() - c_.mp3Ring.available() && !drainMp3Ring()) return false;
    ends_.add(mp3Out_.data(), encoded);
    // Larger than the whole ring (never with LAME's output sizes): straight
    // to the file, which the drain has brought up to date.
    if (encoded > c_.mp3Ring.size()) return writeToFile(mp3Out_.data(), encoded);
    c_.mp3Ring.write(mp3Out_.data(), encoded);
    return true;
  }

  bool writeBlockIfFull() {
    if (c_.mp3Ring.available() < kFileBlockBytes) return true;
    c_.mp3Ring.read(fileBlock_.data(), kFileBlockBytes);
    return writeToFile(fileBlock_.data(), kFileBlockBytes);
  }

  void priorityStep() {
    if (basePriority_ == PriorityLevel::AboveNormal) return;
    const std::uint64_t size = c_.pcmRing.size();
    if (size == 0) return;
    // 64-bit: 100 x a large buffer size does not fit 32 bits.
    const int freePercent = static_cast<int>((size - c_.pcmRing.available()) * 100 / size);
    if (freePercent == prevFreePercent_) return;
    if (freePercent < 50 && prevFreePercent_ >= 50) {
      c_.priority.set(PriorityLevel::AboveNormal);
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
  PriorityLevel basePriority_ = PriorityLevel::Normal;
  std::uint32_t samplesPerChunk_ = 0;
  std::uint32_t outputSize_ = 0;
  std::uint32_t stream_ = 0;
  std::vector<std::uint8_t> mp3Out_;
  std::vector<std::int16_t> pcmChunk_;
  std::vector<std::uint8_t> fileBlock_;
  std::array<std::uint8_t, 2048> tail_{};  // the last bytes of the current file
  std::uint32_t tailBytes_ = 0;
  std::vector<std::uint8_t> carried_;       // reserved at start: no allocation per switch
  std::unique_ptr<OutputFile> file_;
  std::uint64_t fileBytes_ = 0;           // what the current file holds
  FrameEnds ends_;                        // offsets in the current file
  std::uint64_t finishedFilesBytes_ = 0;  // what the files before it hold
  double encodedSeconds_ = 0.0;
  int prevFreePercent_ = -1;
};

}  // namespace

PrioritySeam& systemPriority() {
  static SystemPriority priority;
  return priority;
}

int runEncoder(const EncoderContext& context) { return EncoderBody(context).run(); }

EncoderThread::EncoderThread(const EncoderContext& context, std::optional<PriorityLevel> startPriority)
    : thread_([context, startPriority] {
        nameCurrentThread("vorta-encoder");
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
