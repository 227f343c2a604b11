// The MP3 bytes' way into the output files: 16384-byte blocks, whole frames
// in every file, and the file-system rules of a long unattended recording.
//
// Used by the encoder thread only. It owns the open output file, the bytes
// not yet written (pending), the frame ends of the current file and the last
// bytes written to it. It posts the files it opens and finishes to the run's
// reporter; a failure it meets is returned to the caller as an
// EncoderFailure (creating or writing a file, with the system's error).
//
// - Every file ends with a whole frame. At a split the old file stops at its
//   last frame end and the frame in progress starts the next file, so each
//   file plays on its own and the files joined are the engine's one stream.
//   A failed write cuts the file back to its last whole frame.
// - Nothing on disk changes before the first byte is written to a file: an
//   existing file keeps its bytes, a missing one is not created, so a run
//   that records nothing leaves the file system as it found it.
// - A file this run has written is never replaced: a split that comes back
//   to its name (the clock stepped back into an hour already recorded)
//   appends to it, after cutting it back to its last whole frame. In split
//   mode so does a file last written during the current clock hour (the
//   recorder was restarted); a file of an earlier cycle is replaced.
// - Each finished file is synced to the disk; a failure there is a failed
//   write.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "base/Reporter.h"
#include "encode/EncoderFailure.h"
#include "encode/MpegFrame.h"
#include "platform/Clock.h"
#include "platform/Files.h"

namespace vorta {

// Bytes moved to the file per write.
constexpr std::uint32_t kFileBlockBytes = 16384;

class SplitFileWriter {
 public:
  // splitMode: files are named after the hour (see the rules above).
  // makeFolders: missing folders of a name are made (--dir, --name); without
  // it a missing folder is a creation error, as the operator named a place
  // that is not there.
  SplitFileWriter(FileSystem& files, Clock& clock, bool splitMode, bool makeFolders,
                  const Reporter& reporter);

  // Each returning an EncoderStatus has, on a failure, finished the file as
  // far as it could (cut back to its last whole frame, synced, closed); the
  // writer then takes no more calls.

  // Opens a file the way the writer does (folders made as needed).
  static Result<std::unique_ptr<OutputFile>> openOutput(FileSystem& files, const std::string& name,
                                                        bool makeFolders);
  // Takes the first file, `opened` by openOutput (a file that cannot be
  // created is reported here).
  EncoderStatus open(const std::string& name, Result<std::unique_ptr<OutputFile>> opened);
  // Engine output, in stream order.
  EncoderStatus add(std::span<const std::uint8_t> bytes);
  // Ends the current file at its last whole frame and goes on in `name`.
  EncoderStatus split(const std::string& name);
  // Writes everything, syncs and closes the file.
  EncoderStatus finish();
  // After a failure of the engine or a second stop signal: writes what it
  // holds up to the last whole frame, cuts the file back to that frame and
  // finishes it.
  EncoderStatus finishAtWholeFrame();

  // The sound encoded so far, in seconds, for the length of each finished
  // file.
  void noteSecondsEncoded(double seconds) { secondsEncoded_ = seconds; }

  // Bytes of whole frames this run has written to all files: always a
  // length the files can end at.
  std::uint64_t bytesWritten() const;

  // The current file, for its time map: whether this run appends to it, the
  // bytes it kept from before, and where this run's bytes in it begin in the
  // engine's stream.
  bool appending() const { return start_ == Start::Append; }
  std::uint64_t keptBytes() const { return base_; }
  std::uint64_t streamStart() const { return finishedBytes_; }
  // How much of the engine's stream the files hold.
  std::uint64_t streamHeld() const { return finishedBytes_ + fileBytes_ - base_; }

 private:
  enum class Start { Fresh, Replace, Append };

  EncoderStatus openFile(const std::string& name, Result<std::unique_ptr<OutputFile>> opened);
  Start startFor(const std::string& name, const FileFacts& facts);
  bool writtenThisHour(WallSeconds modified);
  std::uint64_t wholeFramesOnDisk();
  EncoderStatus write(const std::uint8_t* bytes, std::uint32_t length);
  EncoderStatus prepareFirstWrite();
  EncoderStatus writeBlocks();
  EncoderStatus writePending(std::uint64_t count);
  void keepTail(const std::uint8_t* bytes, std::uint32_t length);
  EncoderStatus endAtFrame(std::vector<std::uint8_t>& carried);
  EncoderStatus closeFile();
  void cutToWholeFrames();
  EncoderFailure fail(event::Failure what, const Error& error);

  FileSystem& files_;
  Clock& clock_;
  const Reporter& reporter_;
  bool splitMode_;
  bool makeFolders_;
  std::unique_ptr<OutputFile> file_;
  std::string name_;
  Start start_ = Start::Fresh;
  bool touched_ = false;             // the current file has been changed on disk
  std::uint64_t base_ = 0;           // bytes of the current file before this run's
  std::uint64_t fileBytes_ = 0;      // what the current file holds (or will, once touched)
  std::uint64_t finishedBytes_ = 0;  // this run's bytes in the files before it
  std::vector<std::uint8_t> pending_;
  std::vector<std::uint8_t> carried_;
  std::array<std::uint8_t, 2048> tail_{};  // the last bytes written to the current file
  std::uint32_t tailBytes_ = 0;
  FrameEnds ends_;                 // offsets in the current file
  std::set<std::string> written_;  // names of the files this run has written
  double secondsEncoded_ = 0;      // as the encoder last said
  double fileStartSeconds_ = 0;    // secondsEncoded_ when the current file was opened
};

}  // namespace vorta
