#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Fakes.h"
#include "Mp3Decode.h"
#include "base/Messages.h"
#include "encode/EncoderThread.h"
#include "platform/Threads.h"

namespace vorta {
namespace {

// An engine that hands out recognisable bytes: call k yields outputPerCall
// bytes of value k (flush: flushBytes of 0xF0). With `frame` set the bytes
// are a chain of frames instead, `frame.size()` bytes each and starting
// with its header, that the outputs cut anywhere, as the real engine's do.
class FakeEngine : public Mp3Engine {
 public:
  std::vector<std::uint8_t> frame;
  std::uint64_t streamBytes = 0;
  std::uint32_t samplesPerChunk = 6;
  std::uint32_t outputPerCall = 0;
  std::uint32_t flushBytes = 0;
  std::uint32_t initCode = 0, deinitCode = 0;
  int failEncodeAt = -1;  // call index
  std::uint32_t encodeCode = 0;
  std::function<void(int call)> onEncode;
  std::vector<std::string> calls;
  std::vector<std::uint32_t> counts;
  std::vector<std::vector<std::int16_t>> passed;
  std::atomic<int> encodeCalls{0};

  void version(EngineVersion& out) override {
    calls.push_back("version");
    out.bytes[2] = 3;
    out.bytes[3] = 7;
  }
  std::uint32_t initStream(const EngineConfig&, std::uint32_t& spc, std::uint32_t& size,
                           std::uint32_t& stream) override {
    calls.push_back("init");
    spc = samplesPerChunk;
    size = 40000;
    stream = 42;
    return initCode;
  }
  std::uint32_t encodeChunk(std::uint32_t stream, std::uint32_t n, const std::int16_t* samples,
                            std::uint8_t* output, std::uint32_t& bytes) override {
    const int call = encodeCalls.load();
    calls.push_back("encode");
    EXPECT_EQ(stream, 42u);
    counts.push_back(n);
    passed.emplace_back(samples, samples + n);
    if (onEncode) onEncode(call);
    encodeCalls.fetch_add(1);
    if (call == failEncodeAt) return encodeCode;
    bytes = outputPerCall;
    fill(output, bytes, static_cast<std::uint8_t>(call));
    return 0;
  }
  std::uint32_t deinitStream(std::uint32_t, std::uint8_t* output, std::uint32_t& bytes) override {
    calls.push_back("deinit");
    bytes = flushBytes;
    fill(output, bytes, 0xF0);
    return deinitCode;
  }
  void fill(std::uint8_t* output, std::uint32_t bytes, std::uint8_t value) {
    for (std::uint32_t i = 0; i < bytes; ++i, ++streamBytes)
      output[i] = frame.empty() ? value : frame[streamBytes % frame.size()];
  }
  void closeStream(std::uint32_t) override { calls.push_back("close"); }
};

// Files in memory; the n-th create / write / close can be made to fail, and
// the disk can be made to fill up. A failing write leaves the file as it was,
// as the real one does.
class FakeFiles : public FileSystem {
 public:
  struct Record {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> writes;
    std::vector<std::uint64_t> cuts;  // sizes passed to truncate
    bool closed = false;
  };
  std::vector<Record> files;
  int failCreateAt = -1, failWriteAt = -1, failCloseAt = -1;
  std::size_t room = SIZE_MAX;  // bytes all files together may hold
  int creates = 0, writes = 0, closes = 0;

  std::size_t used() const {
    std::size_t n = 0;
    for (const auto& f : files) n += f.bytes.size();
    return n;
  }

  class File : public OutputFile {
   public:
    File(FakeFiles& fs, std::size_t index) : fs_(fs), index_(index) {}
    int write(const void* bytes, std::size_t length) override {
      if (fs_.writes++ == fs_.failWriteAt) return 28;  // ENOSPC
      if (length > fs_.room - fs_.used()) return 28;
      auto& r = fs_.files[index_];
      const auto* b = static_cast<const std::uint8_t*>(bytes);
      r.bytes.insert(r.bytes.end(), b, b + length);
      r.writes.push_back(length);
      return 0;
    }
    int truncate(std::uint64_t size) override {
      auto& r = fs_.files[index_];
      r.cuts.push_back(size);
      if (size < r.bytes.size()) r.bytes.resize(size);
      return 0;
    }
    int close() override {
      fs_.files[index_].closed = true;
      return fs_.closes++ == fs_.failCloseAt ? 5 : 0;  // EIO
    }

   private:
    FakeFiles& fs_;
    std::size_t index_;
  };

  std::unique_ptr<OutputFile> create(const std::string& name, int& error) override {
    if (creates++ == failCreateAt) {
      error = 13;  // EACCES
      return nullptr;
    }
    files.push_back({name, {}, {}, {}, false});
    return std::make_unique<File>(*this, files.size() - 1);
  }
  bool exists(const std::string&) override { return false; }
  void remove(const std::string&) override {}
  std::string errorText(int error) override { return "system text " + std::to_string(error); }
};

class FakePriority : public PrioritySeam {
 public:
  PriorityLevel level = PriorityLevel::Normal;
  std::vector<PriorityLevel> sets;
  PriorityLevel current() override { return level; }
  void set(PriorityLevel l) override {
    sets.push_back(l);
    level = l;
  }
};

struct Rig {
  Settings settings;
  RunState run;
  RingBuffer pcmRing;
  RingBuffer mp3Ring{kMp3RingBytes};
  FakeEngine engine;
  FakeFiles files;
  FakePriority priority;
  KeptText text;

  explicit Rig(std::uint32_t pcmBytes = 1 << 16) : pcmRing(pcmBytes) {
    settings.sampleRate = 8000;
    settings.channelMode = ChannelMode::Mono;  // 16000 bytes per second
    settings.bitrate = 32;
    settings.outputName = "a.mp3";
  }
  EncoderContext context() {
    return {settings, run, pcmRing, mp3Ring, engine, files, priority};
  }
  void feed(const std::vector<std::int16_t>& samples, bool mark = false) {
    ASSERT_EQ(pcmRing.write(samples.data(), static_cast<std::uint32_t>(samples.size() * 2), mark ? 1 : 0), 0);
  }
  void feedBytes(std::uint32_t n, bool mark = false) {
    std::vector<std::uint8_t> bytes(n, 1);
    ASSERT_EQ(pcmRing.write(bytes.data(), n, mark ? 1 : 0), 0);
  }
  void stop() { run.captureStopped.fetch_add(1); }
  int runBody() { return runEncoder(context()); }
};

std::vector<std::int16_t> ramp(int from, int n) {
  std::vector<std::int16_t> v(n);
  for (int i = 0; i < n; ++i) v[i] = static_cast<std::int16_t>(from + i);
  return v;
}

TEST(EncoderBody, PrintsVersionAndHintThenPassesWholeChunksAndAShortLastOne) {
  Rig rig;
  rig.feed(ramp(0, 18));  // three chunks of 6 samples
  const std::uint8_t tail[5] = {1, 0, 2, 0, 9};  // two samples and an odd byte
  ASSERT_EQ(rig.pcmRing.write(tail, 5), 0);
  rig.stop();
  ASSERT_EQ(rig.runBody(), 0);
  EXPECT_EQ(rig.text.out, "* Encoder version: 3.07\n\nPress ESC to exit...\n\n");
  EXPECT_EQ(rig.text.err, "");
  EXPECT_EQ(rig.engine.counts, (std::vector<std::uint32_t>{6, 6, 6, 2}));
  EXPECT_EQ(rig.engine.passed[1], ramp(6, 6));
  EXPECT_EQ(rig.engine.passed[3], (std::vector<std::int16_t>{1, 2}));
  EXPECT_EQ(rig.engine.calls.back(), "close");
  EXPECT_DOUBLE_EQ(rig.run.encodedSeconds.load(), 41.0 / 16000.0);
  ASSERT_EQ(rig.files.files.size(), 1u);
  EXPECT_EQ(rig.files.files[0].name, "a.mp3");
  EXPECT_TRUE(rig.files.files[0].closed);
}

TEST(EncoderBody, CaptureStoppingWhileWaitingGivesOneEmptyPassThenTheFlush) {
  Rig rig;
  rig.run.encoderEvent.open();
  rig.feed(ramp(0, 6));
  std::thread capture([&] {
    while (rig.engine.encodeCalls.load() < 1) sleepMs(1);
    // The body is now headed for its wait on the event (ordering by a pause,
    // not a measurement: the outcome is checked, not the time).
    sleepMs(200);
    rig.stop();
    rig.run.encoderEvent.set();
  });
  ASSERT_EQ(rig.runBody(), 0);
  capture.join();
  EXPECT_EQ(rig.engine.counts, (std::vector<std::uint32_t>{6, 0}));
  EXPECT_EQ(rig.files.files.size(), 1u);
}

TEST(EncoderBody, WritesExactBlocksOnePerPassAndEveryByteReachesTheFile) {
  Rig rig;
  rig.engine.outputPerCall = 9000;  // outgrows one block per pass: exercises the no-drop path
  rig.engine.flushBytes = 7000;
  rig.feed(ramp(0, 6 * 9));
  rig.stop();
  ASSERT_EQ(rig.runBody(), 0);
  ASSERT_EQ(rig.files.files.size(), 1u);
  const auto& f = rig.files.files[0];
  std::vector<std::uint8_t> expected;
  for (int k = 0; k < 9; ++k) expected.insert(expected.end(), 9000, static_cast<std::uint8_t>(k));
  expected.insert(expected.end(), 7000, 0xF0);
  EXPECT_EQ(f.bytes, expected);
  EXPECT_EQ(rig.run.bytesWritten.load(), expected.size());
  EXPECT_EQ(rig.text.out.find("overflow"), std::string::npos);
  for (std::size_t i = 0; i < f.writes.size(); ++i) EXPECT_LE(f.writes[i], kFileBlockBytes);
}

TEST(EncoderBody, ExactlyOneBlockHeldIsWrittenAtOnceAndTheRestAtTheFlush) {
  Rig rig;
  rig.engine.outputPerCall = 8192;
  rig.engine.flushBytes = 100;
  rig.feed(ramp(0, 6 * 4));
  rig.stop();
  ASSERT_EQ(rig.runBody(), 0);
  EXPECT_EQ(rig.files.files[0].writes, (std::vector<std::size_t>{16384, 16384, 100}));
  EXPECT_EQ(rig.run.bytesWritten.load(), 32868u);
}

TEST(EncoderBody, TimeLimitEndsAfterTheFirstPassAboveIt) {
  Rig rig;
  rig.engine.samplesPerChunk = 2000;  // 4000 bytes: a quarter second, exact in binary
  rig.settings.timeLimitSeconds = 1;
  rig.feed(ramp(0, 2000 * 8));
  ASSERT_EQ(rig.runBody(), 0);  // capture never stops: only the limit ends it
  EXPECT_EQ(rig.engine.counts.size(), 5u) << "reaching exactly 1 s must not end it";
  EXPECT_DOUBLE_EQ(rig.run.encodedSeconds.load(), 1.25);
  EXPECT_EQ(rig.engine.calls.back(), "close");
}

TEST(EncoderBody, SplitMarkClosesTheFileAndTheMarkedChunksOutputStartsTheNext) {
  Rig rig;
  rig.engine.outputPerCall = 10;
  rig.feed(ramp(0, 7));
  rig.feed(ramp(7, 7), true);  // mark inside the second chunk
  rig.feed(ramp(14, 10));
  rig.engine.onEncode = [&](int call) {
    if (call == 0) rig.run.nextSplitName.set("b.mp3");
  };
  rig.stop();
  ASSERT_EQ(rig.runBody(), 0);
  ASSERT_EQ(rig.files.files.size(), 2u);
  EXPECT_EQ(rig.files.files[0].name, "a.mp3");
  EXPECT_EQ(rig.files.files[0].bytes, std::vector<std::uint8_t>(10, 0));
  EXPECT_TRUE(rig.files.files[0].closed);
  EXPECT_EQ(rig.files.files[1].name, "b.mp3");
  std::vector<std::uint8_t> second(10, 1);
  second.insert(second.end(), 10, 2);
  second.insert(second.end(), 10, 3);
  EXPECT_EQ(rig.files.files[1].bytes, second);
  EXPECT_EQ(rig.run.bytesWritten.load(), 40u);
}

TEST(EncoderBody, MarkReachedWithNothingQueuedClosesTheOldFileWithoutAWrite) {
  Rig rig;
  rig.engine.outputPerCall = 10;
  rig.feed(ramp(0, 6), true);  // mark on the very first byte
  rig.stop();
  ASSERT_EQ(rig.runBody(), 0);
  ASSERT_EQ(rig.files.files.size(), 2u);
  EXPECT_TRUE(rig.files.files[0].writes.empty());
  EXPECT_TRUE(rig.files.files[0].closed);
  EXPECT_EQ(rig.files.files[1].bytes.size(), 10u);
}

TEST(EncoderBody, EngineFailuresAreReportedAndFollowedByTheRightCalls) {
  {
    Rig rig;
    rig.engine.initCode = 7;
    rig.feed(ramp(0, 6));
    EXPECT_EQ(rig.runBody(), -1);
    EXPECT_EQ(rig.text.err, "\r\n* Encoder initialization error (7).\r\n\r\n");
    EXPECT_EQ(rig.engine.calls, (std::vector<std::string>{"version", "init"}));
    EXPECT_TRUE(rig.files.files.empty());
  }
  {
    Rig rig;
    rig.engine.outputPerCall = 10;
    rig.engine.failEncodeAt = 1;
    rig.engine.encodeCode = 4000000000u;
    rig.feed(ramp(0, 18));
    rig.stop();
    EXPECT_EQ(rig.runBody(), -1);
    EXPECT_EQ(rig.text.err, "\r\nbeEncodeChunk() failed (4000000000)\r\n\r\n");
    EXPECT_EQ(rig.engine.calls,
              (std::vector<std::string>{"version", "init", "encode", "encode", "close"}));
    EXPECT_TRUE(rig.files.files[0].bytes.empty()) << "mp3Ring's bytes are not written";
  }
  {
    Rig rig;
    rig.engine.deinitCode = 9;
    rig.feed(ramp(0, 6));
    rig.stop();
    EXPECT_EQ(rig.runBody(), -1);
    EXPECT_EQ(rig.text.err, "\r\nbeDeinitStream failed (9)\r\n\r\n");
    EXPECT_EQ(rig.engine.calls,
              (std::vector<std::string>{"version", "init", "encode", "deinit", "close"}));
  }
}

TEST(EncoderBody, FileFailuresAreReportedWithTheSystemsTextAndStopAllWork) {
  const std::string creation = "\r\n* File creation error.\r\n* system text 13\r\n\r\n";
  const std::string writing = "\r\n* Error writing to file.\r\n* system text 28\r\n\r\n";
  {
    Rig rig;  // the first file
    rig.files.failCreateAt = 0;
    rig.feed(ramp(0, 6));
    EXPECT_EQ(rig.runBody(), -1);
    EXPECT_EQ(rig.text.err, creation);
    EXPECT_EQ(rig.engine.calls, (std::vector<std::string>{"version", "init"}));
  }
  {
    Rig rig;  // the next file at a switch
    rig.files.failCreateAt = 1;
    rig.feed(ramp(0, 6), true);
    rig.feed(ramp(0, 6));
    EXPECT_EQ(rig.runBody(), -1);
    EXPECT_EQ(rig.text.err, creation);
    EXPECT_EQ(rig.engine.calls, (std::vector<std::string>{"version", "init", "encode"}));
  }
  {
    Rig rig;  // a block
    rig.engine.outputPerCall = 16384;
    rig.files.failWriteAt = 0;
    rig.feed(ramp(0, 12));
    rig.stop();
    EXPECT_EQ(rig.runBody(), -1);
    EXPECT_EQ(rig.text.err, writing);
    EXPECT_EQ(rig.engine.calls, (std::vector<std::string>{"version", "init", "encode"}));
  }
  {
    Rig rig;  // the flush's write
    rig.engine.outputPerCall = 10;
    rig.files.failWriteAt = 0;
    rig.feed(ramp(0, 6));
    rig.stop();
    EXPECT_EQ(rig.runBody(), -1);
    EXPECT_EQ(rig.text.err, writing);
  }
  {
    Rig rig;  // the closing of the finished file
    rig.files.failCloseAt = 0;
    rig.feed(ramp(0, 6));
    rig.stop();
    EXPECT_EQ(rig.runBody(), -1);
    EXPECT_EQ(rig.text.err, "\r\n* Error writing to file.\r\n* system text 5\r\n\r\n");
  }
}

// Frames of 384 bytes (MPEG-1 Layer III, 128 kbit/s, 48 kHz) and of 24 bytes
// (MPEG-2, 8 kbit/s, 24 kHz, the smallest there are), the header followed by
// filler.
std::vector<std::uint8_t> frameOf(std::vector<std::uint8_t> header, std::size_t size) {
  header.resize(size, 0x55);
  return header;
}
const std::vector<std::uint8_t> kFrame384 = frameOf({0xFF, 0xFB, 0x94, 0x44}, 384);
const std::vector<std::uint8_t> kFrame24 = frameOf({0xFF, 0xF3, 0x14, 0xC4}, 24);

// The first n bytes of a chain of such frames.
std::vector<std::uint8_t> frames(const std::vector<std::uint8_t>& frame, std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = frame[i % frame.size()];
  return bytes;
}

// With outputs of 5000 bytes the first block (16384) ends inside frame 43
// (of 384 bytes): the file then holds 42 whole frames, 16128 bytes.
TEST(EncoderBody, BytesWrittenCountsTheBytesOfWholeFramesTheFileHolds) {
  Rig rig;
  rig.engine.frame = kFrame384;
  rig.engine.outputPerCall = 5000;
  rig.engine.flushBytes = 66 * 384 - 25000;  // the flush completes the last frame
  std::vector<std::uint64_t> shown;
  rig.engine.onEncode = [&](int) { shown.push_back(rig.run.bytesWritten.load()); };
  rig.feed(ramp(0, 6 * 5));
  rig.stop();
  ASSERT_EQ(rig.runBody(), 0);
  EXPECT_EQ(shown, (std::vector<std::uint64_t>{0, 0, 0, 0, 42 * 384}));
  EXPECT_EQ(rig.run.bytesWritten.load(), 66u * 384u);
  EXPECT_EQ(rig.files.files[0].bytes, frames(kFrame384, 66 * 384));
  EXPECT_TRUE(rig.files.files[0].cuts.empty());
}

TEST(EncoderBody, FailedBlockWriteCutsTheFileBackToTheLastWholeFrame) {
  const std::string writing = "\r\n* Error writing to file.\r\n* system text 28\r\n\r\n";
  for (const bool diskFull : {false, true}) {
    SCOPED_TRACE(diskFull ? "disk full" : "second write fails");
    Rig rig;
    rig.engine.frame = kFrame384;
    rig.engine.outputPerCall = 5000;
    if (diskFull) {
      rig.files.room = 30000;  // the second block does not fit
    } else {
      rig.files.failWriteAt = 1;
    }
    rig.feed(ramp(0, 6 * 10));
    rig.stop();
    EXPECT_EQ(rig.runBody(), -1);
    EXPECT_EQ(rig.text.err, writing);
    const auto& f = rig.files.files.at(0);
    EXPECT_EQ(f.cuts, std::vector<std::uint64_t>{42 * 384});
    EXPECT_EQ(f.bytes, frames(kFrame384, 42 * 384));
    EXPECT_EQ(rig.run.bytesWritten.load(), 42u * 384u);
    EXPECT_EQ(rig.engine.counts.size(), 7u) << "no engine call after the failure";
    EXPECT_EQ(rig.engine.calls.back(), "encode");
  }
}

TEST(EncoderBody, FailedWriteAtASwitchCutsTheOldFileBackToItsLastWholeFrame) {
  Rig rig;
  rig.engine.frame = kFrame384;
  rig.engine.outputPerCall = 5000;
  rig.files.failWriteAt = 1;  // what mp3Ring holds at the switch
  rig.feed(ramp(0, 6 * 4 + 1));
  rig.feed(ramp(0, 5), true);  // the mark inside the fifth chunk
  rig.feed(ramp(0, 6));
  rig.stop();
  EXPECT_EQ(rig.runBody(), -1);
  EXPECT_EQ(rig.text.err, "\r\n* Error writing to file.\r\n* system text 28\r\n\r\n");
  ASSERT_EQ(rig.files.files.size(), 1u) << "no next file after the failure";
  EXPECT_EQ(rig.files.files[0].bytes, frames(kFrame384, 42 * 384));
  EXPECT_EQ(rig.run.bytesWritten.load(), 42u * 384u);
}

// A switch that fails after the old file got its last whole frame: the file
// ends there, like every split file, and nothing more is cut.
TEST(EncoderBody, FailedCloseOrCreateAtASwitchLeavesTheOldFileAsItWasWritten) {
  for (const bool closeFails : {true, false}) {
    SCOPED_TRACE(closeFails ? "close fails" : "create fails");
    Rig rig;
    rig.engine.frame = kFrame384;
    rig.engine.outputPerCall = 5000;
    if (closeFails) {
      rig.files.failCloseAt = 0;
    } else {
      rig.files.failCreateAt = 1;
    }
    rig.feed(ramp(0, 6 * 4 + 1));
    rig.feed(ramp(0, 5), true);  // the mark inside the fifth chunk
    rig.stop();
    EXPECT_EQ(rig.runBody(), -1);
    EXPECT_EQ(rig.text.err, closeFails
                                ? "\r\n* Error writing to file.\r\n* system text 5\r\n\r\n"
                                : "\r\n* File creation error.\r\n* system text 13\r\n\r\n");
    const auto& f = rig.files.files.at(0);
    EXPECT_EQ(f.bytes, frames(kFrame384, 52 * 384));
    EXPECT_EQ(f.writes, (std::vector<std::size_t>{16384, 52 * 384 - 16384}));
    EXPECT_TRUE(f.cuts.empty());
  }
}

// Split files hold whole frames: the old file stops at its last frame end,
// the next starts with the frame in progress, and its frame ends are known.
TEST(EncoderBody, AfterASwitchTheNextFileIsCutAtTheStreamsFrameEndsToo) {
  Rig rig;
  rig.engine.frame = kFrame384;
  rig.engine.outputPerCall = 5000;
  rig.files.failWriteAt = 3;  // the next file's second block
  rig.feed(ramp(0, 6 * 4 + 1));
  rig.feed(ramp(0, 5), true);
  rig.feed(ramp(0, 6 * 8));
  rig.stop();
  EXPECT_EQ(rig.runBody(), -1);
  ASSERT_EQ(rig.files.files.size(), 2u);
  EXPECT_EQ(rig.files.files[0].bytes, frames(kFrame384, 52 * 384));
  // The next file's first block holds stream bytes 19968 to 36352; the last
  // frame end in it is 94 x 384 = 36096, 16128 bytes into the file.
  const auto& next = rig.files.files[1];
  EXPECT_EQ(next.cuts, std::vector<std::uint64_t>{94 * 384 - 52 * 384});
  const auto stream = frames(kFrame384, 94 * 384);
  EXPECT_EQ(next.bytes, std::vector<std::uint8_t>(stream.begin() + 52 * 384, stream.end()));
  EXPECT_EQ(rig.run.bytesWritten.load(), 94u * 384u);
}

// A block that stopped inside a frame whose end the engine has not produced
// by the split: the old file gives the frame's start back and the next file
// begins with it, so both files hold whole frames and join to the stream.
TEST(EncoderBody, ASplitAfterABlockEndingInsideAFrameCarriesTheFramesStartOver) {
  Rig rig;
  rig.engine.frame = kFrame384;
  rig.engine.outputPerCall = 4100;  // four outputs: one block, 16 bytes left
  rig.feed(ramp(0, 6 * 4 + 1));
  rig.feed(ramp(0, 5), true);
  rig.stop();
  ASSERT_EQ(rig.runBody(), 0);
  ASSERT_EQ(rig.files.files.size(), 2u);
  const auto stream = frames(kFrame384, 5 * 4100);
  const auto& old = rig.files.files[0];
  EXPECT_EQ(old.cuts, std::vector<std::uint64_t>{42 * 384});
  EXPECT_EQ(old.bytes, frames(kFrame384, 42 * 384));
  EXPECT_EQ(rig.files.files[1].bytes,
            std::vector<std::uint8_t>(stream.begin() + 42 * 384, stream.end()));
  EXPECT_EQ(rig.text.err, "");
}

// The smallest frames the engine can write, in tiny outputs: every frame end
// is kept track of, however many wait in mp3Ring, and the cut is exact.
TEST(EncoderBody, SmallestFramesInTinyOutputsAreCutAtTheLastWholeOne) {
  Rig rig;
  rig.engine.frame = kFrame24;
  rig.engine.samplesPerChunk = 1;
  rig.engine.outputPerCall = 5;
  rig.files.failWriteAt = 1;
  rig.feedBytes(2 * 8000);  // 40000 bytes of output: two blocks
  rig.stop();
  EXPECT_EQ(rig.runBody(), -1);
  const auto& f = rig.files.files.at(0);
  EXPECT_EQ(f.cuts, std::vector<std::uint64_t>{16384 / 24 * 24});
  EXPECT_EQ(f.bytes, frames(kFrame24, 16384 / 24 * 24));
  EXPECT_EQ(rig.run.bytesWritten.load(), 16384u / 24u * 24u);
}

// Bytes that are no frames (not the engine's) are counted as written and
// never cut: there is no frame end to cut at.
TEST(EncoderBody, BytesThatAreNoFramesAreCountedAndNotCut) {
  Rig rig;
  rig.engine.outputPerCall = 5000;
  rig.files.failWriteAt = 1;
  rig.feed(ramp(0, 6 * 10));
  rig.stop();
  EXPECT_EQ(rig.runBody(), -1);
  EXPECT_TRUE(rig.files.files[0].cuts.empty());
  EXPECT_EQ(rig.files.files[0].bytes.size(), 16384u);
  EXPECT_EQ(rig.run.bytesWritten.load(), 16384u);
}

// The ring's fill is set from inside each encode call, so the step that
// follows sees exactly the wanted free share; the level is read at the next
// call.
std::vector<PriorityLevel> levelsForFreeShares(PriorityLevel base, const std::vector<int>& shares) {
  Rig rig(400);
  rig.engine.samplesPerChunk = 1;  // 2-byte chunks
  rig.priority.level = base;
  rig.feedBytes(2);
  std::vector<PriorityLevel> levels;
  rig.engine.onEncode = [&](int call) {
    if (call > 0) levels.push_back(rig.priority.level);
    std::vector<std::uint8_t> scratch(400);
    rig.pcmRing.read(scratch.data(), rig.pcmRing.available());
    if (call == static_cast<int>(shares.size())) {
      rig.stop();
      return;
    }
    const auto held = static_cast<std::uint32_t>(400 * (100 - shares[call]) / 100);
    rig.pcmRing.write(scratch.data(), held);
  };
  EXPECT_EQ(rig.runBody(), 0);
  return levels;
}

TEST(EncoderBody, PriorityRisesBelowHalfFreeAndReturnsAtSeventyPercent) {
  EXPECT_EQ(levelsForFreeShares(PriorityLevel::Normal, {80, 45, 60, 75}),
            (std::vector<PriorityLevel>{PriorityLevel::Normal, PriorityLevel::AboveNormal, PriorityLevel::AboveNormal,
                              PriorityLevel::Normal}));
  EXPECT_EQ(levelsForFreeShares(PriorityLevel::Normal, {30, 40, 55, 45}),
            (std::vector<PriorityLevel>{PriorityLevel::Normal, PriorityLevel::Normal, PriorityLevel::Normal,
                              PriorityLevel::AboveNormal}))
      << "a first pass at 30% raises nothing";
  EXPECT_EQ(levelsForFreeShares(PriorityLevel::AboveNormal, {80, 10, 90, 0}),
            (std::vector<PriorityLevel>(4, PriorityLevel::AboveNormal)));
}

TEST(EncoderThread, AppliesItsPriorityFirstAndPublishesAFailureBeforeDone) {
  Rig rig;
  rig.engine.initCode = 1;
  { EncoderThread thread(rig.context(), PriorityLevel::AboveNormal); }
  EXPECT_EQ(rig.priority.sets, std::vector<PriorityLevel>{PriorityLevel::AboveNormal});
  EXPECT_TRUE(rig.run.encoderFailed.load());
  EXPECT_EQ(rig.run.encoderDone.load(), 1u);

  Rig ok;
  ok.stop();
  { EncoderThread thread(ok.context(), std::nullopt); }
  EXPECT_TRUE(ok.priority.sets.empty());
  EXPECT_FALSE(ok.run.encoderFailed.load());
  EXPECT_EQ(ok.run.encoderDone.load(), 1u);
}

// Hands each chunk to the real engine and, like a capture callback, tops up
// pcmRing with the next piece (marked, when splitting) once it runs low.
class FeedingEngine : public Mp3Engine {
 public:
  FeedingEngine(Rig& rig, std::vector<std::vector<std::int16_t>> pieces, bool split)
      : rig_(rig), pieces_(std::move(pieces)), split_(split), real_(makeLameEngine()) {
    feedNext();
  }
  void version(EngineVersion& out) override { real_->version(out); }
  std::uint32_t initStream(const EngineConfig& c, std::uint32_t& spc, std::uint32_t& size,
                           std::uint32_t& stream) override {
    const std::uint32_t code = real_->initStream(c, spc, size, stream);
    chunkBytes_ = spc * 2;
    return code;
  }
  std::uint32_t encodeChunk(std::uint32_t stream, std::uint32_t n, const std::int16_t* samples,
                            std::uint8_t* output, std::uint32_t& bytes) override {
    if (rig_.pcmRing.available() < chunkBytes_) feedNext();
    return real_->encodeChunk(stream, n, samples, output, bytes);
  }
  std::uint32_t deinitStream(std::uint32_t stream, std::uint8_t* output,
                             std::uint32_t& bytes) override {
    return real_->deinitStream(stream, output, bytes);
  }
  void closeStream(std::uint32_t stream) override { real_->closeStream(stream); }

 private:
  void feedNext() {
    if (next_ == pieces_.size()) {
      rig_.stop();
      return;
    }
    rig_.feed(pieces_[next_], split_ && next_ > 0);
    ++next_;
  }
  Rig& rig_;
  std::vector<std::vector<std::int16_t>> pieces_;
  bool split_;
  std::unique_ptr<Mp3Engine> real_;
  std::uint32_t chunkBytes_ = 0;
  std::size_t next_ = 0;
};

// With the real engine: two split marks give three files that each decode,
// and together they are exactly the stream one unsplit run produces.
TEST(EncoderBodyWithLame, SplitFilesAreConsecutivePiecesOfOneStream) {
  const long rate = 44100;
  const auto pcm = test::makeTone(rate, 2, rate * 3 + 777, {440.0, 660.0});
  std::vector<std::vector<std::int16_t>> pieces;
  const std::size_t second = rate * 2;  // samples of one second, both channels
  for (std::size_t at = 0; at < pcm.size(); at += second) {
    pieces.emplace_back(pcm.begin() + at, pcm.begin() + std::min(pcm.size(), at + second));
  }
  auto encode = [&](bool split) {
    Rig rig(rate * 4 * 4);
    rig.settings.sampleRate = rate;
    rig.settings.channelMode = ChannelMode::JointStereo;
    rig.settings.bitrate = 128;
    FeedingEngine engine(rig, pieces, split);
    EncoderContext c{rig.settings, rig.run, rig.pcmRing, rig.mp3Ring, engine, rig.files,
                     rig.priority};
    EXPECT_EQ(runEncoder(c), 0);
    return rig.files.files;
  };
  const auto whole = encode(false);
  const auto parts = encode(true);
  ASSERT_EQ(whole.size(), 1u);
  ASSERT_EQ(parts.size(), 4u);  // three one-second pieces and a short fourth
  std::vector<std::uint8_t> joined;
  for (const auto& f : parts) {
    const auto d = test::decodeMp3Bytes(f.bytes);
    EXPECT_TRUE(d.ok) << d.error;
    joined.insert(joined.end(), f.bytes.begin(), f.bytes.end());
  }
  EXPECT_EQ(joined, whole[0].bytes);
  const auto a = test::decodeMp3Bytes(whole[0].bytes);
  const auto b = test::decodeMp3Bytes(joined);
  ASSERT_TRUE(a.ok && b.ok);
  EXPECT_EQ(a.samples, b.samples);
  EXPECT_EQ(a.rate, rate);
  EXPECT_NEAR(test::dominantFrequency(a.channel(0), rate, 100, 2000), 440.0, 4.0);
}

// Walks MPEG-1 Layer III frame headers from the first byte and returns where
// each frame ends; `whole` tells whether the last frame ends with the bytes.
std::vector<std::size_t> mpeg1FrameEnds(const std::vector<std::uint8_t>& b, bool& whole) {
  static const int kbits[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
  static const int rates[4] = {44100, 48000, 32000, 0};
  std::vector<std::size_t> ends;
  std::size_t at = 0;
  whole = false;
  while (at < b.size()) {
    if (b.size() - at < 4 || b[at] != 0xFF || (b[at + 1] & 0xFE) != 0xFA) return ends;
    const int kbit = kbits[b[at + 2] >> 4];
    const int rate = rates[(b[at + 2] >> 2) & 3];
    if (kbit == 0 || rate == 0) return ends;
    at += std::size_t(144000 * kbit / rate + ((b[at + 2] >> 1) & 1));
    if (at <= b.size()) ends.push_back(at);
  }
  whole = at == b.size();
  return ends;
}

// With the real engine: a disk that fills up during the second block. The
// file is cut back to the last frame that ended within the two blocks that
// fitted, holds whole frames only, decodes, and is the front of the stream
// an unhindered run writes. (The engine's outputs do not end with frames:
// cutting at them would not do.)
TEST(EncoderBodyWithLame, DiskFullLeavesTheFileCutAtAFrameEnd) {
  const long rate = 44100;
  const auto pcm = test::makeTone(rate, 2, rate * 4, {440.0, 660.0});
  const std::vector<std::vector<std::int16_t>> pieces{pcm};
  auto encode = [&](std::size_t room, std::uint64_t& shown) {
    Rig rig(rate * 4 * 5);
    rig.settings.sampleRate = rate;
    rig.settings.channelMode = ChannelMode::JointStereo;
    rig.settings.bitrate = 128;
    rig.files.room = room;
    FeedingEngine engine(rig, pieces, false);
    EncoderContext c{rig.settings, rig.run, rig.pcmRing, rig.mp3Ring, engine, rig.files,
                     rig.priority};
    const int result = runEncoder(c);
    shown = rig.run.bytesWritten.load();
    EXPECT_EQ(rig.files.files.size(), 1u);
    return std::make_pair(result, rig.files.files.at(0).bytes);
  };
  std::uint64_t shown = 0;
  const auto unhindered = encode(SIZE_MAX, shown);
  ASSERT_EQ(unhindered.first, 0);
  ASSERT_GT(unhindered.second.size(), 3u * 16384u);
  EXPECT_EQ(shown, unhindered.second.size());
  bool whole = false;
  std::size_t expected = 0;
  for (const std::size_t end : mpeg1FrameEnds(unhindered.second, whole))
    if (end <= 2 * 16384) expected = end;
  ASSERT_TRUE(whole);
  ASSERT_GT(expected, 16384u);

  const auto cut = encode(40000, shown);
  EXPECT_EQ(cut.first, -1);
  const std::vector<std::uint8_t>& file = cut.second;
  EXPECT_EQ(file.size(), expected);
  EXPECT_EQ(shown, expected);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), unhindered.second.begin()));
  const std::size_t frames = mpeg1FrameEnds(file, whole).size();
  EXPECT_TRUE(whole);
  const auto decoded = test::decodeMp3Bytes(file);
  ASSERT_TRUE(decoded.ok) << decoded.error;
  EXPECT_EQ(decoded.frames.size(), frames);
  EXPECT_EQ(decoded.sampleFrames(), frames * 1152);
}

}  // namespace
}  // namespace vorta
