// One recorder's archive: its folder and the pattern its files are named by.
// A file is served only when its path below the folder reads back through
// the pattern, level by level; its time map is the same name + ".times".
//
// Contract: built on the main thread before the server starts, then only
// read (any connection's thread); it holds no open files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "web/SafeFiles.h"
#include "archive/TimeMap.h"

namespace vorta::web {

struct ArchiveConfig {
  std::string name;     // in URLs: letters, digits, '.', '_', '-'
  std::string folder;   // the recorder's --dir
  std::string pattern;  // the recorder's --name (or %H.mp3 for -split1)
  std::string statusFile;  // the recorder's --status file, if any
};

// A file's stretch of continuous sound: [startMs, endMs) of wall-clock time
// in bytes [startByte, endByte), which begin and end on frame boundaries.
struct Segment {
  std::int64_t startMs = 0, endMs = 0;
  std::uint64_t startByte = 0, endByte = 0;
  std::string reason;  // why it began
};

// One file of the archive, open, with its time map.
struct Recording {
  std::string name;  // below the folder
  ReadOnlyFile file;
  TimeMap map;
  std::vector<Segment> segments;
  std::int64_t startMs() const { return segments.empty() ? 0 : segments.front().startMs; }
  std::int64_t endMs() const { return segments.empty() ? 0 : segments.back().endMs; }
};

class Archive {
 public:
  explicit Archive(ArchiveConfig config);
  const ArchiveConfig& config() const { return config_; }
  const std::string& name() const { return config_.name; }

  // The levels of a name below the folder that reads back through the pattern.
  std::optional<std::vector<std::string>> partsOf(std::string_view name) const;
  std::optional<ReadOnlyFile> open(std::string_view name) const;
  // The files recorded in [fromMs, toMs), in time order, each with its map.
  std::vector<Recording> recordings(std::int64_t fromMs, std::int64_t toMs, Clock& clock) const;
  // Whether any file was recorded in [fromMs, toMs) (by names and dates only).
  bool anyFile(std::int64_t fromMs, std::int64_t toMs, Clock& clock) const;

 private:
  std::vector<std::string> namesBetween(std::int64_t fromMs, std::int64_t toMs, Clock& clock) const;
  std::optional<Recording> load(const std::string& name) const;

  ArchiveConfig config_;
  std::vector<std::string> parts_;
  int slotSeconds_;  // a new file at most this often: 60 with minutes in the pattern
};

// The first frame boundary at or after the moment `ms` in the recording
// (its end when the moment is past it).
std::uint64_t byteAt(const Recording& recording, std::int64_t ms);

}  // namespace vorta::web
