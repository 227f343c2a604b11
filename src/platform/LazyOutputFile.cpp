#include "platform/LazyOutputFile.h"

#include <utility>

namespace vorta {

LazyOutputFile::LazyOutputFile(FileHandleOpener& opener, std::string name,
                               std::unique_ptr<FileHandle> handle, FileFacts facts)
    : opener_(opener), name_(std::move(name)), handle_(std::move(handle)), facts_(facts),
      end_(facts.size) {}

Result<std::size_t> LazyOutputFile::readAt(std::uint64_t offset, void* bytes,
                                           std::size_t length) {
  if (!handle_) return std::size_t{0};  // not created yet: empty
  return handle_->readAt(offset, bytes, length);
}

Status LazyOutputFile::write(const void* bytes, std::size_t length) {
  if (Status made = materialise(); !made.ok()) return made;
  const auto* p = static_cast<const char*>(bytes);
  for (std::size_t done = 0; done < length;) {
    const Result<std::size_t> n = handle_->write(end_ + done, p + done, length - done);
    if (!n.ok()) {
      // Whatever this call did write would sit in the file uncounted, most
      // likely as the front part of a frame: take it back. The caller hears
      // of the original failure, not of the clean-up.
      static_cast<void>(cutTo(end_));
      return n.error();
    }
    done += n.value();
  }
  end_ += length;
  return {};
}

Status LazyOutputFile::truncate(std::uint64_t size) {
  if (Status made = materialise(); !made.ok()) return made;
  return cutTo(size);
}

Status LazyOutputFile::finish() {
  finished_ = true;
  if (!handle_) return {};
  const std::unique_ptr<FileHandle> handle = std::move(handle_);
  const Status synced = handle->sync();
  // Closed whether or not the sync went well; its failure comes first.
  const Status closed = handle->close();
  return synced.ok() ? closed : synced;
}

// A file that did not exist at the open is created by its first change.
Status LazyOutputFile::materialise() {
  if (handle_) return {};
  if (finished_) return Error{ErrorKind::Failed, 0, "the file is finished"};
  Result<std::unique_ptr<FileHandle>> created = opener_.create(name_);
  if (!created.ok()) return created.error();
  handle_ = std::move(created).value();
  end_ = 0;
  return {};
}

// The size and the write position go back together, so that the next write
// continues at the cut instead of leaving a hole.
Status LazyOutputFile::cutTo(std::uint64_t size) {
  const Status cut = handle_->truncate(size);
  // Devices and pipes have no length to cut: fine as long as nothing written
  // there has to be taken back.
  if (!cut.ok() && (cut.error().kind != ErrorKind::NotSupported || size != end_)) return cut;
  end_ = size;
  return {};
}

Result<std::unique_ptr<OutputFile>> openLazily(FileHandleOpener& opener, const std::string& name) {
  Result<std::unique_ptr<FileHandle>> existing = opener.openExisting(name);
  if (existing.ok()) {
    std::unique_ptr<FileHandle> handle = std::move(existing).value();
    Result<FileFacts> facts = handle->facts();
    if (!facts.ok()) return facts.error();
    facts.value().existed = true;
    return std::unique_ptr<OutputFile>(
        std::make_unique<LazyOutputFile>(opener, name, std::move(handle), facts.value()));
  }
  if (existing.error().kind != ErrorKind::NotFound) return existing.error();
  // Not there: make sure it can be created, and leave nothing behind.
  if (Status probed = opener.probeCreate(name); !probed.ok()) return probed.error();
  return std::unique_ptr<OutputFile>(
      std::make_unique<LazyOutputFile>(opener, name, nullptr, FileFacts{}));
}

}  // namespace vorta
