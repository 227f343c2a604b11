// Time maps of files on disk: a file's map read from beside it (or rebuilt
// when it has none), and a clock time found across a day's files.
//
// Contract: reads files only (never writes); any thread; each call opens and
// closes what it reads. No system header: the standard library's streams
// and file system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/TimeMap.h"

namespace vorta {

struct MappedFile {
  std::string path;         // the MP3 file
  std::uint64_t bytes = 0;  // its size when mapped
  TimeMap map;
};

// The map of the MP3 file at `mp3Path`: its NAME.times when that reads as a
// map, else one rebuilt from the file (approx). None when the file cannot
// be read or holds no MP3 frame.
std::optional<MappedFile> loadMappedFile(const std::string& mp3Path);

// An approximate map for an MP3 file from its frames and its modification
// time; none when it holds no frame.
std::optional<TimeMap> rebuildTimeMap(const std::string& mp3Path);

// Where the sound captured at `epochMs` lies in `files` (in time order): the
// file and place; a moment in a gap gives the next sound after it. None
// before the first file's sound and after the last one's.
struct FilePlace {
  std::size_t file = 0;
  FramePlace place;
};
std::optional<FilePlace> locate(const std::vector<MappedFile>& files, std::int64_t epochMs);

}  // namespace vorta
