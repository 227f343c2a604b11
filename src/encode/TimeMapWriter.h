// The time maps of the files the encoder writes (--time-map, --name): for
// each MP3 file a text file beside it that says when its sound was captured
// and how loud it was (the format is in archive/TimeMapLines.h and
// docs/time-map.md).
//
// Used by the encoder thread only; it owns the open time map, the lines
// waiting for their frames and the level measurement. It is told of the
// sound before the engine gets it (sound), of the engine's bytes
// (encoded), of each file the split writer starts (fileStarted) and of the
// bytes the files hold (written). A line is written once the MP3 file holds
// the whole frame it points to, so a map never points past its file's end,
// and a few seconds of sound after it have been taken.
// The capture callback's stamps (run.timeStamps) say where stretches of
// continuous sound begin and when; every other time is counted from the
// last stamp in samples.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "archive/TimeMapLines.h"
#include "base/TimeStamps.h"
#include "encode/LevelWindow.h"
#include "encode/SidecarFile.h"
#include "encode/StreamFrames.h"
#include "platform/Files.h"

namespace vorta {

class TimeMapWriter {
 public:
  // The engine (LAME) puts this many samples of its own before the sound:
  // input sample s is in stream frame (s + kEncoderDelay) / frameSamples.
  static constexpr std::uint64_t kEncoderDelay = 576;

  // A map that cannot be written is posted to `reporter`.
  TimeMapWriter(FileSystem& files, TimeStampQueue& stamps, const TimeMapHeader& header,
                std::unique_ptr<LoudnessMeter> meter, const Reporter& reporter);

  // The next `frames` frames of the recording (interleaved samples), before
  // the engine encodes them.
  void sound(const std::int16_t* samples, std::uint32_t frames);
  // The engine's output, in stream order.
  void encoded(std::span<const std::uint8_t> bytes);
  // The writer goes on in `name`: this run's bytes in it begin at
  // `streamStart` in the engine's stream, after `keptBytes` of an earlier
  // recording when it appends. The map of the file before is completed and
  // synced.
  void fileStarted(const std::string& name, std::uint64_t streamStart, std::uint64_t keptBytes,
                   bool append);
  // The files hold the engine's stream up to `held`.
  void written(std::uint64_t held);
  // The recording has ended with the files holding the stream up to `held`.
  void finish(std::uint64_t held);

 private:
  struct Pending {
    std::uint64_t frame;   // in the stream
    std::uint64_t sample;  // the moment the line stands for, in stream samples
    std::variant<SegmentReason, LevelLine> line;
  };
  struct Anchor {
    std::uint64_t sample;
    std::int64_t epochMs;
  };
  struct File {
    std::unique_ptr<SidecarFile> sidecar;
    std::uint64_t streamStart = 0;  // stream offset of the file's byte keptBytes
    std::uint64_t keptBytes = 0;
    std::uint64_t keptFrames = 0;
    std::uint64_t firstFrame = 0;   // stream index of its first frame of this run
    std::optional<std::uint64_t> lastSegmentFrame;  // of its last S line, in the file
  };

  void takeStamps(std::uint64_t pcmEnd);
  void measure(const std::int16_t* samples, std::uint32_t frames);
  void queue(Pending pending, bool first);
  std::uint64_t frameOf(std::uint64_t sample) const;
  std::uint64_t firstSampleOf(std::uint64_t frame) const;
  std::int64_t timeOf(std::uint64_t sample) const;
  void emitReady(std::uint64_t held, bool final);
  void emit(const Pending& pending, std::uint64_t offset);
  void forgetOldAnchors();

  FileSystem& files_;
  const Reporter& reporter_;
  TimeStampQueue& stamps_;
  const TimeMapHeader header_;
  LevelWindow levels_;
  // A line is written once this much sound after it has been taken: by then
  // the stamps that correct its stretch's start have come (see
  // capture/SegmentStamper.h).
  const std::uint64_t refineSamples_;
  StreamFrames frames_;
  std::uint64_t samples_ = 0;  // frames of sound taken so far
  std::deque<Anchor> anchors_;
  std::vector<Pending> pending_;  // in frame order
  File file_;
};

}  // namespace vorta
