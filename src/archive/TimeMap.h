// One file's time map, read: when each part of the file's sound was
// captured, and the way from a clock time to a place in the file and back.
//
// Between two S lines the sound is continuous, so a time there is counted
// in frames from the nearest line before it (S or L). Byte offsets are
// counted at the constant bitrate's average frame length: within a byte or
// two of a frame header, which a FrameWalker over the file's bytes finds
// (nextFrameStart). The frame index is exact.
//
// Contract: a value; const methods may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "archive/MpegHeader.h"
#include "archive/TimeMapLines.h"

namespace vorta {

class TimeMap {
 public:
  // The map in `text`; none when its first line is not a valid header.
  // Lines that are not whole (the last one without its line feed, torn by a
  // crash) or not valid are skipped and counted.
  static std::optional<TimeMap> parse(std::string_view text);
  // An approximate map for an MP3 file that has none: `frames` frames of
  // continuous sound of the format `first` (its first frame's header) that
  // ended at `endMs` (the file's modification time). Marked approx.
  static TimeMap rebuilt(const MpegHeader& first, std::uint64_t frames, std::int64_t endMs);

  const TimeMapHeader& header() const { return header_; }
  const std::vector<SegmentLine>& segments() const { return segments_; }
  const std::vector<LevelLine>& levels() const { return levels_; }
  std::size_t skippedLines() const { return skipped_; }

  // The file's first sound (none when the map has no S line) and the end of
  // its sound for a file of `fileBytes` bytes.
  std::optional<std::int64_t> startMs() const;
  std::int64_t endMs(std::uint64_t fileBytes) const;
  // The end of segment `index` (the moment its last frame ends).
  std::int64_t segmentEndMs(std::size_t index, std::uint64_t fileBytes) const;

  // Where the sound captured at `epochMs` lies in a file of `fileBytes`
  // bytes. A moment in a gap (sound cut or lost) gives the next sound's
  // place; one before the first sound or after the last gives none.
  std::optional<FramePlace> placeAt(std::int64_t epochMs, std::uint64_t fileBytes) const;
  // When the sound of the frame at (or just before) `offset` was captured;
  // none before the first S line.
  std::optional<std::int64_t> timeAt(std::uint64_t offset) const;

 private:
  std::vector<FramePlace> anchorsOf(std::size_t segment) const;
  std::uint64_t framesIn(std::uint64_t fileBytes) const;
  FramePlace counted(const FramePlace& from, std::uint64_t frames) const;

  TimeMapHeader header_;
  std::vector<SegmentLine> segments_;  // in frame order
  std::vector<LevelLine> levels_;      // in frame order
  std::size_t skipped_ = 0;
};

}  // namespace vorta
