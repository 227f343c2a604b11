// An encoder slower than real time: the real capture callback writes capture
// buffers into a small pcmRing while the real encoder thread drains it
// through an engine that the test holds still. The ring fills, the buffers
// that do not fit are reported and dropped whole, capture carries on, and
// once the engine runs freely again every byte written after the overflow
// reaches it, in order.
//
// Deterministic: the engine blocks in encodeChunk until the test grants it
// calls, and the test waits for the state it needs (a call entered, the ring
// drained) instead of for a time.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "capture/CaptureCallback.h"
#include "base/Messages.h"
#include "base/RunState.h"
#include "base/Settings.h"
#include "encode/EncoderThread.h"
#include "base/RingBuffer.h"
#include "platform/Threads.h"

namespace vorta {
namespace {

constexpr std::uint32_t kRingBytes = 262144;    // the smallest pcmRing there is
constexpr std::uint32_t kBufferBytes = 32768;   // one capture buffer
constexpr std::uint32_t kChunkSamples = 2304;   // 1152 stereo frames
constexpr std::uint32_t kChunkBytes = kChunkSamples * 2;
const std::string kOverflow = "\nError: buffer overflow\n";

// Keeps what is printed; the encoder thread prints too, hence the lock.
class LockedText final : public TextSink {
 public:
  LockedText() { setTextSink(this); }
  ~LockedText() override { setTextSink(nullptr); }
  void write(Stream stream, std::string_view bytes) override {
    std::lock_guard<std::mutex> lock(mutex_);
    (stream == Stream::Out ? out_ : err_).append(bytes);
  }
  std::string out() {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
  }
  std::string err() {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
  }

 private:
  std::mutex mutex_;
  std::string out_, err_;
};

// An engine that encodes only as many chunks as the test has granted: call n
// waits inside encodeChunk until more than n calls are granted. It keeps
// every sample it is given and produces no output.
class GatedEngine final : public Mp3Engine {
 public:
  void version(EngineVersion& out) override { out.bytes[2] = 3; }
  std::uint32_t initStream(const EngineConfig&, std::uint32_t& spc, std::uint32_t& size,
                           std::uint32_t& stream) override {
    spc = kChunkSamples;
    size = 8192;
    stream = 1;
    return 0;
  }
  std::uint32_t encodeChunk(std::uint32_t, std::uint32_t n, const std::int16_t* samples,
                            std::uint8_t*, std::uint32_t& bytes) override {
    std::unique_lock<std::mutex> lock(mutex_);
    received_.insert(received_.end(), samples, samples + n);
    ++entered_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return granted_ >= entered_; });
    bytes = 0;
    return 0;
  }
  std::uint32_t deinitStream(std::uint32_t, std::uint8_t*, std::uint32_t& bytes) override {
    bytes = 0;
    return 0;
  }
  void closeStream(std::uint32_t) override {}

  // Lets calls up to the given count finish; a huge count opens the gate.
  void grant(std::uint64_t calls) {
    std::lock_guard<std::mutex> lock(mutex_);
    granted_ = calls;
    changed_.notify_all();
  }
  // Waits until call number `calls` (counting from 1) has started.
  void waitEntered(std::uint64_t calls) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return entered_ >= calls; });
  }
  std::vector<std::int16_t> received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t granted_ = 0;
  std::uint64_t entered_ = 0;
  std::vector<std::int16_t> received_;
};

class NoFiles final : public FileSystem {
  class Sink final : public OutputFile {
   public:
    int write(const void*, std::size_t) override { return 0; }
    int close() override { return 0; }
  };

 public:
  std::unique_ptr<OutputFile> create(const std::string&, int&) override {
    return std::make_unique<Sink>();
  }
  bool exists(const std::string&) override { return false; }
  void remove(const std::string&) override {}
  std::string errorText(int error) override { return "error " + std::to_string(error); }
};

class SteadyPriority final : public PrioritySeam {
 public:
  PriorityLevel current() override { return PriorityLevel::Normal; }
  void set(PriorityLevel) override {}
};

// Capture buffer number k: 16-bit values k * 16384 + i, so that every value
// of the recording says where it came from.
std::vector<std::int16_t> bufferValues(std::uint32_t k) {
  std::vector<std::int16_t> v(kBufferBytes / 2);
  for (std::uint32_t i = 0; i < v.size(); ++i)
    v[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(k * v.size() + i));
  return v;
}

struct SlowRig {
  LockedText text;
  Settings settings;
  RunState run;
  RingBuffer pcmRing{kRingBytes};
  RingBuffer mp3Ring{kMp3RingBytes};
  GatedEngine engine;
  NoFiles files;
  SteadyPriority priority;
  std::unique_ptr<CaptureCallback> callback;
  std::vector<std::int16_t> block;  // the capture buffer's memory
  CaptureBuffer buffer;

  SlowRig() {
    settings.sampleRate = 44100;
    settings.channelMode = ChannelMode::Stereo;
    settings.bitrate = 128;
    settings.outputName = "slow.mp3";
    callback = std::make_unique<CaptureCallback>(run, settings, pcmRing);
    callback->onSound(SoundMessage::Open, nullptr);
  }
  EncoderContext context() { return {settings, run, pcmRing, mp3Ring, engine, files, priority}; }

  // Hands capture buffer k to the callback, as the sound input's service does.
  void capture(std::uint32_t k) {
    block = bufferValues(k);
    buffer.data = reinterpret_cast<std::uint8_t*>(block.data());
    buffer.length = kBufferBytes;
    buffer.bytesRecorded = kBufferBytes;
    callback->onSound(SoundMessage::Data, &buffer);
  }
  // Waits until the encoder has taken everything but less than a chunk.
  void waitDrained() {
    while (pcmRing.available() >= kChunkBytes) sleepMs(1);
  }
  void stopCapture() {
    run.captureStopped.fetch_add(1, std::memory_order_release);
    callback->onSound(SoundMessage::Close, nullptr);
  }
};

std::size_t count(const std::string& haystack, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + 1))
    ++n;
  return n;
}

TEST(SlowEncoder, FullRingDropsWholeBuffersCaptureGoesOnAndNothingIsLostAfterwards) {
  SlowRig rig;
  std::vector<std::int16_t> expected;
  auto accepted = [&](std::uint32_t k) {
    const auto v = bufferValues(k);
    expected.insert(expected.end(), v.begin(), v.end());
  };
  {
    EncoderThread encoder(rig.context(), std::nullopt);

    // Buffer 0 arrives; the encoder takes its first chunk and stalls in the
    // engine with it.
    rig.capture(0);
    accepted(0);
    rig.engine.waitEntered(1);
    ASSERT_EQ(rig.pcmRing.available(), kBufferBytes - kChunkBytes);

    // The ring takes seven more buffers; then less than a buffer is free.
    for (std::uint32_t k = 1; k <= 7; ++k) {
      rig.capture(k);
      accepted(k);
    }
    ASSERT_EQ(rig.pcmRing.available(), 8 * kBufferBytes - kChunkBytes);
    EXPECT_EQ(count(rig.text.out(), kOverflow), 0u);

    // Buffers 8 and 9 find it full: each is reported and dropped whole.
    rig.capture(8);
    EXPECT_EQ(count(rig.text.out(), kOverflow), 1u);
    rig.capture(9);
    EXPECT_EQ(count(rig.text.out(), kOverflow), 2u);
    EXPECT_EQ(rig.pcmRing.available(), 8 * kBufferBytes - kChunkBytes);

    // The engine gets through eight chunks (the encoder then holds a ninth):
    // 9 x 4608 bytes freed, room for one buffer, which capture takes.
    rig.engine.grant(8);
    rig.engine.waitEntered(9);
    rig.capture(10);
    accepted(10);
    EXPECT_EQ(count(rig.text.out(), kOverflow), 2u);

    // From here the encoder keeps up: it drains each buffer before the next
    // one comes, and none is lost.
    rig.engine.grant(UINT64_MAX);
    for (std::uint32_t k = 11; k < 60; ++k) {
      rig.waitDrained();
      rig.capture(k);
      accepted(k);
    }
    rig.stopCapture();
  }  // joins the encoder, which drains the ring and flushes first

  EXPECT_EQ(rig.run.encoderFailed.load(), false);
  EXPECT_EQ(count(rig.text.out(), kOverflow), 2u);
  EXPECT_EQ(rig.text.err(), "");
  EXPECT_TRUE(rig.pcmRing.empty());
  const std::vector<std::int16_t> received = rig.engine.received();
  ASSERT_EQ(received.size(), expected.size());
  // Compared in one go would print two huge vectors on failure; the first
  // difference says which buffer went wrong.
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(received[i], expected[i]) << "value " << i << " of the accepted buffers";
  }
}

}  // namespace
}  // namespace vorta
