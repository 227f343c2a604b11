#include "encode/SplitFileWriter.h"

#include <algorithm>


namespace vorta {

SplitFileWriter::SplitFileWriter(FileSystem& files, Clock& clock, bool splitMode, bool makeFolders,
                                 const Reporter& reporter)
    : files_(files), clock_(clock), reporter_(reporter), splitMode_(splitMode),
      makeFolders_(makeFolders) {
  // Room for a block, one engine output and a carried frame: the pass loop
  // never allocates.
  pending_.reserve(2 * kFileBlockBytes + tail_.size());
  carried_.reserve(2 * kFileBlockBytes + tail_.size());
}

EncoderStatus SplitFileWriter::open(const std::string& name,
                                   Result<std::unique_ptr<OutputFile>> opened) {
  if (EncoderStatus done = openFile(name, std::move(opened)); !done.ok()) return done;
  ends_.moveToNextFile(0, base_);
  return {};
}

Result<std::unique_ptr<OutputFile>> SplitFileWriter::openOutput(FileSystem& files,
                                                                const std::string& name,
                                                                bool makeFolders) {
  // A name pattern may put the file in folders that are not there yet; if
  // one cannot be made, the open below fails with the system's reason.
  if (makeFolders) static_cast<void>(files.makeFolders(name));
  return files.open(name);
}

EncoderStatus SplitFileWriter::openFile(const std::string& name,
                                       Result<std::unique_ptr<OutputFile>> opened) {
  if (!opened.ok()) return fail(event::Failure::FileCreation, opened.error());
  file_ = std::move(opened).value();
  name_ = name;
  touched_ = false;
  tailBytes_ = 0;
  start_ = startFor(name, file_->facts());
  base_ = start_ == Start::Append ? wholeFramesOnDisk() : 0;
  fileBytes_ = base_;
  fileStartSeconds_ = secondsEncoded_;
  reporter_.post(event::FileOpened{name});
  return {};
}

SplitFileWriter::Start SplitFileWriter::startFor(const std::string& name, const FileFacts& facts) {
  if (!facts.existed) return Start::Fresh;
  if (written_.count(name) != 0) return Start::Append;
  return splitMode_ && writtenThisHour(facts.modified) ? Start::Append : Start::Replace;
}

// Whether a moment lies in the current clock hour (same day, same hour).
bool SplitFileWriter::writtenThisHour(WallSeconds modified) {
  const LocalTime now = clock_.localNow();
  const LocalTime then = clock_.localTime(modified);
  return then.year == now.year && then.month == now.month && then.dayOfMonth == now.dayOfMonth &&
         then.hour == now.hour;
}

// The length of the whole frames at the start of the file on disk. A file
// that cannot be read back is taken as it is: its bytes are kept.
std::uint64_t SplitFileWriter::wholeFramesOnDisk() {
  const std::uint64_t size = file_->facts().size;
  std::vector<std::uint8_t> buffer(1 << 16);
  std::uint64_t at = 0;  // where the next frame starts
  std::uint64_t from = 0;
  std::size_t held = 0;  // buffer holds the file's bytes [from, from + held)
  while (at + 4 <= size) {
    if (at + 4 > from + held) {
      const Result<std::size_t> read = file_->readAt(at, buffer.data(), buffer.size());
      if (!read.ok()) return size;
      if (read.value() < 4) return at;
      from = at;
      held = read.value();
    }
    const std::uint32_t frame = mpegFrameLength(buffer.data() + (at - from));
    if (frame == 0 || at + frame > size) break;
    at += frame;
  }
  return at;
}

EncoderStatus SplitFileWriter::add(std::span<const std::uint8_t> bytes) {
  ends_.add(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  return writeBlocks();
}

EncoderStatus SplitFileWriter::writeBlocks() {
  std::size_t done = 0;
  for (; pending_.size() - done >= kFileBlockBytes; done += kFileBlockBytes) {
    if (EncoderStatus w = write(pending_.data() + done, kFileBlockBytes); !w.ok()) return w;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
  return {};
}

EncoderStatus SplitFileWriter::writePending(std::uint64_t count) {
  std::uint64_t done = 0;
  while (done < count) {
    const auto n =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(count - done, kFileBlockBytes));
    if (EncoderStatus w = write(pending_.data() + done, n); !w.ok()) return w;
    done += n;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
  return {};
}

EncoderStatus SplitFileWriter::write(const std::uint8_t* bytes, std::uint32_t length) {
  if (length == 0) return {};
  if (!touched_) {
    if (EncoderStatus prepared = prepareFirstWrite(); !prepared.ok()) return prepared;
  }
  const Status written = file_->write(bytes, length);
  if (!written.ok()) return fail(event::Failure::FileWrite, written.error());
  fileBytes_ += length;
  keepTail(bytes, length);
  ends_.reached(fileBytes_);
  return {};
}

// The file changes on disk only now, with the first sound it receives:
// replaced, or cut back to its last whole frame when this run appends.
EncoderStatus SplitFileWriter::prepareFirstWrite() {
  touched_ = true;
  written_.insert(name_);
  const std::uint64_t size = file_->facts().size;
  if (start_ == Start::Fresh || size == base_) return {};
  const Status cut = file_->truncate(base_);
  if (!cut.ok()) return fail(event::Failure::FileWrite, cut.error());
  return {};
}

// The last bytes written to the current file, enough for one frame of any
// rate (the largest is 1441 bytes): a split can take back the start of a
// frame the file already holds and carry it into the next file.
void SplitFileWriter::keepTail(const std::uint8_t* bytes, std::uint32_t length) {
  const auto size = static_cast<std::uint32_t>(tail_.size());
  if (length >= size) {
    std::copy(bytes + length - size, bytes + length, tail_.begin());
    tailBytes_ = size;
    return;
  }
  const std::uint32_t keep = std::min(tailBytes_, size - length);
  std::copy(tail_.begin() + (tailBytes_ - keep), tail_.begin() + tailBytes_, tail_.begin());
  std::copy(bytes, bytes + length, tail_.begin() + keep);
  tailBytes_ = keep + length;
}

// Ends the current file at its last whole frame; `carried` receives the
// bytes after that frame, which start the next file.
EncoderStatus SplitFileWriter::endAtFrame(std::vector<std::uint8_t>& carried) {
  carried.clear();
  if (ends_.lost()) return writePending(pending_.size());
  const std::uint64_t end = ends_.lastEndWithin(fileBytes_ + pending_.size());
  if (end < fileBytes_) {
    // The last block stopped inside a frame whose end the engine has not
    // produced yet: take the frame's start back from the file.
    const std::uint64_t back = fileBytes_ - end;
    if (back > tailBytes_ || !file_->truncate(end).ok()) return writePending(pending_.size());
    carried.assign(tail_.begin() + (tailBytes_ - back), tail_.begin() + tailBytes_);
    fileBytes_ = end;
  } else if (EncoderStatus w = writePending(end - fileBytes_); !w.ok()) {
    return w;
  }
  carried.insert(carried.end(), pending_.begin(), pending_.end());
  pending_.clear();
  return {};
}

EncoderStatus SplitFileWriter::split(const std::string& name) {
  if (EncoderStatus ended = endAtFrame(carried_); !ended.ok()) return ended;
  const std::uint64_t end = fileBytes_;
  if (EncoderStatus closed = closeFile(); !closed.ok()) return closed;
  EncoderStatus opened = openFile(name, openOutput(files_, name, makeFolders_));
  if (!opened.ok()) return opened;
  ends_.moveToNextFile(end, base_);
  pending_.swap(carried_);
  return writeBlocks();
}

EncoderStatus SplitFileWriter::closeFile() {
  const std::uint64_t bytes = fileBytes_ - base_;
  finishedBytes_ += bytes;
  fileBytes_ = base_ = 0;
  const Status finished = file_->finish();
  file_.reset();
  if (!finished.ok()) return fail(event::Failure::FileWrite, finished.error());
  // A file that never received a byte was never made.
  if (touched_)
    reporter_.post(event::FileFinished{name_, bytes, secondsEncoded_ - fileStartSeconds_});
  return {};
}

EncoderStatus SplitFileWriter::finish() {
  if (!file_) return {};  // closed by the failure that was returned then
  if (EncoderStatus written = writePending(pending_.size()); !written.ok()) return written;
  return closeFile();
}

EncoderStatus SplitFileWriter::finishAtWholeFrame() {
  if (!file_) return {};
  const std::uint64_t sent = fileBytes_ + pending_.size();
  const std::uint64_t end = ends_.lost() ? sent : ends_.lastEndWithin(sent);
  const std::uint64_t whole = end > fileBytes_ ? end - fileBytes_ : 0;
  if (EncoderStatus written = writePending(whole); !written.ok()) return written;
  cutToWholeFrames();
  return closeFile();
}

// The file may end inside a frame (a failed write, an engine that stopped in
// the middle of one): back to the last whole one. Should the cut itself fail,
// the failure already met is still the one to report.
void SplitFileWriter::cutToWholeFrames() {
  if (!file_ || ends_.lost() || ends_.whole() >= fileBytes_) return;
  if (file_->truncate(ends_.whole()).ok()) fileBytes_ = ends_.whole();
}

std::uint64_t SplitFileWriter::bytesWritten() const {
  if (!file_) return finishedBytes_;
  return finishedBytes_ + (ends_.lost() ? fileBytes_ : ends_.whole()) - base_;
}

// Finishes the file as far as it can after a failure: cut back to its last
// whole frame, synced and closed; the failure is the caller's to pass on. The
// writer takes no more calls.
EncoderFailure SplitFileWriter::fail(event::Failure what, const Error& error) {
  cutToWholeFrames();
  if (file_) {
    finishedBytes_ += fileBytes_ - base_;
    static_cast<void>(file_->finish());
    file_.reset();
  }
  return EncoderFailure{what, error};
}

}  // namespace vorta
