#include "encode/SidecarFile.h"

#include <vector>

namespace vorta {
namespace {

// An old map larger than this is not read back: a day of lines is a few
// hundred kilobytes.
constexpr std::size_t kLargestOldMap = 16u << 20;

bool sameRecording(const TimeMapHeader& a, const TimeMapHeader& b) {
  return a.rate == b.rate && a.channels == b.channels && a.frameSamples == b.frameSamples &&
         a.kbps == b.kbps && !a.approx && !b.approx;
}

}  // namespace

SidecarFile::SidecarFile(FileSystem& files, const std::string& mp3Name,
                         const TimeMapHeader& header, bool append, const Reporter& reporter)
    : files_(files), name_(nameFor(mp3Name)), header_(header), append_(append),
      reporter_(reporter) {}

SidecarFile::~SidecarFile() = default;

void SidecarFile::writeLine(const std::string& line) {
  if (failed_ || (!prepared_ && !prepare())) return;
  const std::string text = line + '\n';
  const Status written = file_->write(text.data(), text.size());
  if (!written.ok()) fail(written.error());
}

void SidecarFile::finish() {
  if (!file_ || failed_) return;
  const Status finished = file_->finish();
  file_.reset();
  if (!finished.ok()) fail(finished.error());
}

bool SidecarFile::prepare() {
  prepared_ = true;
  Result<std::unique_ptr<OutputFile>> opened = files_.open(name_);
  if (!opened.ok()) return fail(opened.error());
  file_ = std::move(opened).value();
  if (append_ && continueOldMap()) return true;
  if (failed_) return false;
  if (file_->facts().size != 0) {
    const Status cut = file_->truncate(0);
    if (!cut.ok()) return fail(cut.error());
  }
  const std::string header = headerText(header_) + '\n';
  const Status written = file_->write(header.data(), header.size());
  return written.ok() ? true : fail(written.error());
}

// True when the old map goes on: its header is this recording's, and it is
// cut back to its last whole line.
bool SidecarFile::continueOldMap() {
  const std::uint64_t size = file_->facts().size;
  if (size == 0 || size > kLargestOldMap) return false;
  std::vector<char> text(static_cast<std::size_t>(size));
  const Result<std::size_t> read = file_->readAt(0, text.data(), text.size());
  if (!read.ok() || read.value() != text.size()) return false;
  const std::string_view all(text.data(), text.size());
  const std::size_t firstEnd = all.find('\n');
  if (firstEnd == std::string_view::npos) return false;
  const std::optional<TimeMapHeader> old = parseHeader(all.substr(0, firstEnd));
  if (!old || !sameRecording(*old, header_)) return false;
  const std::size_t whole = all.rfind('\n') + 1;
  if (whole == size) return true;
  const Status cut = file_->truncate(whole);
  return cut.ok() || fail(cut.error());
}

bool SidecarFile::fail(const Error& error) {
  if (!failed_) reporter_.post(event::TimeMapFailed{name_, error.text});
  failed_ = true;
  file_.reset();
  return false;
}

}  // namespace vorta
