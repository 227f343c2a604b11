// The two retention rules over the files a --name pattern produced:
// --keep-days deletes those older than the days, --keep-free deletes the
// oldest while the file system's free space is below the mark.
//
// Retention thread only (see RetentionThread): a folder walk of any length
// never holds up capture or encoding. Only what the pattern can have
// produced is touched: each folder level and the file name must read back
// through the pattern's part for that level, and only regular files go (a
// link, a folder or a name of any other shape is left alone), never the file
// being written. A deleted file takes its sidecar files with it (regular
// files named after it: NAME.mp3.times), and a folder of the pattern that it
// leaves empty goes too. Each deletion is posted to the reporter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Reporter.h"
#include "base/Settings.h"
#include "encode/FilesInUse.h"
#include "platform/Files.h"

namespace vorta {

// Whether a file last modified at `modified` is older than `days` days at `now`.
bool isOlderThanDays(WallSeconds modified, WallSeconds now, int days);

// The --keep-free mark in bytes for a file system of `total` bytes.
std::uint64_t keepFreeMark(const Settings& settings, std::uint64_t total);

class Retention {
 public:
  Retention(FileSystem& files, const Settings& settings, FilesInUse& inUse, const Reporter& reporter);

  // --keep-days (when given): deletes the pattern's files older than the days.
  void deleteOld(WallSeconds now);
  // --keep-free (when given): while the free space is below the mark,
  // deletes the oldest of the pattern's files. When none is left, warns
  // once (again only after the space was back above the mark).
  void keepFree();

 private:
  struct PatternFile {
    std::string path;
    WallSeconds modified;
    std::vector<std::string> sidecars;
  };

  std::vector<PatternFile> patternFiles();
  void walk(const std::string& folder, std::size_t level, std::vector<PatternFile>& found);
  bool remove(const PatternFile& file);
  bool belowMark();

  FileSystem& files_;
  const Settings& s_;
  FilesInUse& inUse_;
  const Reporter& reporter_;
  std::vector<std::string> parts_;  // the pattern's levels
  bool warned_ = false;             // nothing was left to delete
};

}  // namespace vorta
