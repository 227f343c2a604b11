// A stretch of wall-clock time in one archive, as one MP3 stream: the files
// recorded in it cut at frame boundaries and chained, with where each stretch
// of sound lies in the chain, and the loudness readings. A day's stream and
// an exported clip are both spans.
//
// Contract: built and used by one connection's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "web/Archive.h"
#include "web/ByteChain.h"

namespace vorta::web {

struct SpanSegment {
  std::int64_t startMs = 0, endMs = 0;
  std::uint64_t streamStart = 0, streamEnd = 0;  // bytes of the chain
  std::string reason, file;
};

struct SpanLevel {
  std::int64_t ms = 0;
  double lufs = -1e9, peak = -1e9;  // -1e9: no sound at all
};

struct SpanFile {
  std::string name;
  std::uint64_t bytes = 0;
  bool approx = false;
  std::int64_t startMs = 0, endMs = 0;
};

struct ArchiveSpan {
  std::shared_ptr<ByteChain> chain = std::make_shared<ByteChain>();
  std::vector<SpanSegment> segments;
  std::vector<SpanLevel> levels;
  std::vector<SpanFile> files;
  int kbps = 0;  // of the first file
};

ArchiveSpan spanOf(const Archive& archive, std::int64_t fromMs, std::int64_t toMs, Clock& clock);

}  // namespace vorta::web
