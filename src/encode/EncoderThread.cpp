// Encoder thread.
//
// Waits on: a whole chunk of PCM in pcmRing, woken by run.encoderEvent after
// every capture write (or polling every 20 ms while the event is closed).
// Owns: the engine stream, the split-file writer (the open output file and
// the MP3 bytes not yet written) and, with a time map, its writer (the open
// map, its waiting lines, the loudness meter); it is the only reader of
// run.timeStamps and the only writer of run.encodedSeconds and
// run.bytesWritten. Each file's map is finished right after its file.
// Ends: when capture has stopped and pcmRing is empty, or when the time limit
// is passed, it flushes the engine and finishes the file; after a second stop
// signal (run.endAtOnce) it finishes the file at its last whole frame at once. On a failure of the
// engine it still writes what was encoded, up to the last whole frame, and
// finishes the file; on a file failure the writer has cut the file back to
// its last whole frame. Either way the failure comes back to the thread
// entry as a value, which posts it (once) and publishes the result, and
// raises run.encoderDone last.
#include "encode/EncoderThread.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/SplitName.h"
#include "encode/PriorityStep.h"
#include "encode/SplitFileWriter.h"
#include "encode/TimeMapWriter.h"
#include "platform/Loudness.h"

namespace vorta {
namespace {

// What a file's time map says of the whole recording.
TimeMapHeader timeMapHeader(const Settings& s) {
  TimeMapHeader header;
  header.rate = s.sampleRate;
  header.channels = s.channels();
  header.frameSamples = s.sampleRate >= 32000 ? 1152 : 576;  // MPEG-1 rates
  header.kbps = s.bitrate;
  return header;
}

// Names from --dir or --name may lie in folders that are not there yet.
bool makesFolders(const EncoderContext& c) {
  return !c.settings.outputDir.empty() || !c.settings.namePattern.empty();
}

// Retention is told of a file before it is opened (which may make its
// folders), so it never takes away the file or its folder.
void announce(const EncoderContext& c, const std::string& name) {
  if (c.inUse != nullptr) c.inUse->use(name);
}

Result<std::unique_ptr<OutputFile>> openFirst(const EncoderContext& c) {
  announce(c, c.settings.outputName);
  return SplitFileWriter::openOutput(c.files, c.settings.outputName, makesFolders(c));
}

class EncoderPump {
 public:
  explicit EncoderPump(const EncoderContext& c)
      : c_(c),
        writer_(c.files, c.clock, c.settings.splitMode != SplitMode::None, makesFolders(c),
                c.reporter) {
    if (c.settings.timeMap)
      timeMap_.emplace(c.files, c.run.timeStamps, timeMapHeader(c.settings),
                       makeLoudnessMeter(c.settings.sampleRate, c.settings.channels()), c.reporter);
  }

  EncoderStatus run(Result<std::unique_ptr<OutputFile>> firstFile) {
    const Mp3Version version = c_.engine.version();
    c_.reporter.post(event::RecordingStarted{version.major, version.minor});
    Result<Mp3Stream> opened = c_.engine.open(mp3ParamsFor(c_.settings));
    if (!opened.ok()) return EncoderFailure{event::Failure::EncoderInit, opened.error()};
    Mp3Stream stream = std::move(opened).value();
    pcm_.resize(stream.samplesPerChunk());  // int16_t elements: aligned for the engine
    EncoderStatus first = writer_.open(c_.settings.outputName, std::move(firstFile));
    if (!first.ok()) return first;
    fileStarted(c_.settings.outputName);
    step_.emplace(c_.priority.current());
    while (!(captureStopped() && c_.pcmRing.empty())) {
      if (endAtOnce()) {
        // A second stop signal: no more encoding, no flush; the file still
        // ends with a whole frame, and a failure to finish it still counts.
        const EncoderStatus finished = writer_.finishAtWholeFrame();
        publishBytesWritten();
        finishTimeMap();
        return finished;
      }
      const Result<Pass, EncoderFailure> pass = runPass(stream);
      if (!pass.ok()) return pass.error();
      if (pass.value() == Pass::TimeUp) break;
      priorityStep();
    }
    return flush(stream);
  }

 private:
  enum class Pass { Going, TimeUp };

  bool captureStopped() const {
    // Acquire pairs with the capture loop's release increment.
    return c_.run.captureStopped.load(std::memory_order_acquire) != 0;
  }

  bool endAtOnce() const {
    // Relaxed: the flag publishes nothing else.
    return c_.run.endAtOnce.load(std::memory_order_relaxed);
  }

  void waitForChunk(std::uint32_t chunkBytes) {
    while (c_.pcmRing.available() < chunkBytes && !captureStopped() && !endAtOnce()) {
      if (!c_.run.encoderEvent.isOpen()) sleepMs(20);
      if (c_.run.encoderEvent.isOpen()) c_.run.encoderEvent.wait(std::chrono::seconds(1));
    }
  }

  Result<Pass, EncoderFailure> runPass(Mp3Stream& stream) {
    const auto chunkBytes = static_cast<std::uint32_t>(pcm_.size() * 2);
    waitForChunk(chunkBytes);
    const std::uint32_t len = std::min(c_.pcmRing.available(), chunkBytes);
    std::uint64_t markTag = 0;
    static_cast<void>(c_.pcmRing.read(pcm_.data(), len, &markTag));  // len <= available
    if (timeMap_) timeMap_->sound(pcm_.data(), len / 2 / static_cast<std::uint32_t>(c_.settings.channels()));
    const auto encoded = stream.encode({pcm_.data(), len / 2});
    if (!encoded.ok()) return finishAfterEngineFailure({event::Failure::EncodeChunk, encoded.error()});
    if (timeMap_) timeMap_->encoded(encoded.value());
    encodedSeconds_ += double(len) / double(c_.settings.bytesPerSecond());
    writer_.noteSecondsEncoded(encodedSeconds_);
    // Relaxed: a display value with one writer; the atomic keeps it whole.
    c_.run.encodedSeconds.store(encodedSeconds_, std::memory_order_relaxed);
    // The output of the chunk that reached the mark starts the next file.
    if (markTag != 0) {
      if (EncoderStatus next = startNextFile(fileNameAt(markTag)); !next.ok()) return failed(next);
    }
    if (EncoderStatus added = writer_.add(encoded.value()); !added.ok()) return failed(added);
    publishBytesWritten();
    if (timeMap_) timeMap_->written(writer_.streamHeld());
    const int limit = c_.settings.timeLimitSeconds;
    return limit != 0 && encodedSeconds_ > limit ? Pass::TimeUp : Pass::Going;
  }

  // A mark's tag is the moment of the split request, in seconds since the
  // epoch: the next file is named after it, however late the mark is read.
  std::string fileNameAt(std::uint64_t markTag) {
    return splitFileName(c_.settings, c_.clock.localTime(WallSeconds(std::chrono::seconds(markTag))));
  }

  EncoderStatus startNextFile(const std::string& name) {
    announce(c_, name);
    if (EncoderStatus split = writer_.split(name); !split.ok()) return split;
    fileStarted(name);
    return {};
  }

  void fileStarted(const std::string& name) {
    if (timeMap_)
      timeMap_->fileStarted(name, writer_.streamStart(), writer_.keptBytes(), writer_.appending());
  }

  // After the last bytes went to the file, however the recording ended.
  void finishTimeMap() {
    if (timeMap_) timeMap_->finish(writer_.streamHeld());
  }

  // What the engine encoded before it failed still goes to the file, as far
  // as it can; the engine's failure is the one that ended the recording.
  EncoderFailure finishAfterEngineFailure(EncoderFailure failure) {
    static_cast<void>(writer_.finishAtWholeFrame());
    return failed(std::move(failure));
  }

  EncoderFailure failed(EncoderStatus status) {
    publishBytesWritten();
    finishTimeMap();
    return status.error();
  }

  void publishBytesWritten() {
    // Relaxed: a display value with one writer; the atomic keeps it whole.
    c_.run.bytesWritten.store(writer_.bytesWritten(), std::memory_order_relaxed);
  }

  void priorityStep() {
    const auto level = step_->after(freePercent(c_.pcmRing.size(), c_.pcmRing.available()));
    if (level) c_.priority.set(*level);
  }

  EncoderStatus flush(Mp3Stream& stream) {
    const auto rest = stream.flush();
    if (!rest.ok()) return finishAfterEngineFailure({event::Failure::EncoderFlush, rest.error()});
    if (timeMap_) timeMap_->encoded(rest.value());
    EncoderStatus written = writer_.add(rest.value());
    if (written.ok()) written = writer_.finish();
    publishBytesWritten();
    finishTimeMap();
    return written;
  }

  const EncoderContext& c_;
  SplitFileWriter writer_;
  std::vector<std::int16_t> pcm_;
  std::optional<PriorityStep> step_;  // from the level the thread starts at
  std::optional<TimeMapWriter> timeMap_;  // with --time-map or --name
  double encodedSeconds_ = 0.0;
};

}  // namespace

Mp3Params mp3ParamsFor(const Settings& settings) {
  Mp3Params params;
  params.sampleRate = settings.sampleRate;
  params.bitrateKbps = settings.bitrate;
  switch (settings.channelMode) {
    case ChannelMode::Stereo:
      params.channels = Mp3Params::Channels::Stereo;
      break;
    case ChannelMode::JointStereo:
      params.channels = Mp3Params::Channels::JointStereo;
      break;
    case ChannelMode::Mono:
      params.channels = Mp3Params::Channels::Mono;
      break;
  }
  params.quality =
      settings.quality == Quality::Low ? Mp3Params::Quality::Low : Mp3Params::Quality::High;
  return params;
}

EncoderStatus runEncoder(const EncoderContext& context) {
  return EncoderPump(context).run(openFirst(context));
}

// The first file is opened here, on the creating thread, before the thread
// starts: opening may create and remove a probe, and a device error right
// after the start ends the process at once, which must not fall in between.
// A failure to open it still comes back from the body, after the engine's
// version is posted.
EncoderThread::EncoderThread(const EncoderContext& context, PriorityLevel startPriority)
    : thread_([context, startPriority, first = openFirst(context)]() mutable {
        nameCurrentThread("vorta-encoder");
        context.priority.set(startPriority);
        const EncoderStatus ended = EncoderPump(context).run(std::move(first));
        if (!ended.ok()) context.reporter.post(failureEvent(ended.error()));
        // Relaxed: the release increment below publishes it.
        context.run.encoderFailed.store(!ended.ok(), std::memory_order_relaxed);
        context.run.encoderDone.fetch_add(1, std::memory_order_release);
      }) {}

EncoderThread::~EncoderThread() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace vorta
