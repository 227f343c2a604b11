// One time map being written beside its MP3 file: NAME.times for NAME.
//
// Used by the encoder thread only; it owns the open file. Like the MP3 file,
// it changes nothing on disk before its first line: then a fresh map starts
// with its header (an existing one replaced), or, when the MP3 file is
// appended to, the map goes on after its last whole line (a line torn by a
// crash is cut off) if its header is this recording's, else starts afresh.
// Each line is written at once, so a crash loses at most the line under way;
// finish() syncs the map to the disk, as the MP3 file is synced. A failure
// is posted once (event::TimeMapFailed) and ends this map; the recording goes
// on without it.
#pragma once

#include <memory>
#include <string>

#include "archive/TimeMapLines.h"
#include "base/Reporter.h"
#include "platform/Files.h"

namespace vorta {

class SidecarFile {
 public:
  static std::string nameFor(const std::string& mp3Name) { return mp3Name + ".times"; }

  SidecarFile(FileSystem& files, const std::string& mp3Name, const TimeMapHeader& header,
              bool append, const Reporter& reporter);
  ~SidecarFile();
  SidecarFile(const SidecarFile&) = delete;
  SidecarFile& operator=(const SidecarFile&) = delete;

  // One line, without its line feed.
  void writeLine(const std::string& line);
  // Syncs and closes the map, if it was written at all.
  void finish();

 private:
  bool prepare();
  bool continueOldMap();
  bool fail(const Error& error);

  FileSystem& files_;
  const std::string name_;
  const TimeMapHeader header_;
  const bool append_;
  const Reporter& reporter_;
  std::unique_ptr<OutputFile> file_;
  bool prepared_ = false;
  bool failed_ = false;
};

}  // namespace vorta
