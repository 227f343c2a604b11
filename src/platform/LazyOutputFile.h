// LazyOutputFile: the output file's rules, over any system's FileHandle.
//
// - Opening changes nothing on disk: an existing file keeps its bytes until
//   the first write or truncate; a missing one is only probed (created and
//   removed again) so that a name that cannot be created fails at the open,
//   and is created by the first write or truncate. A run that records
//   nothing leaves the file system as it found it.
// - A write is all or nothing: short writes are finished, and a write that
//   fails part-way (a full disk) is cut back, so the file ends on the bytes
//   of the calls that succeeded and the next write follows them.
// - finish() syncs and closes; a failed sync is the failure to report, a
//   failed close only when the sync went well.
//
// Used by one thread at a time (the encoder thread); it owns its handle.
#pragma once

#include <memory>
#include <string>

#include "platform/FileHandle.h"

namespace vorta {

class LazyOutputFile final : public OutputFile {
 public:
  // `handle`: the existing file as opened, or null for one not created yet.
  // The opener outlives the file.
  LazyOutputFile(FileHandleOpener& opener, std::string name, std::unique_ptr<FileHandle> handle,
                 FileFacts facts);

  const FileFacts& facts() const override { return facts_; }
  Result<std::size_t> readAt(std::uint64_t offset, void* bytes, std::size_t length) override;
  Status write(const void* bytes, std::size_t length) override;
  Status truncate(std::uint64_t size) override;
  Status finish() override;

 private:
  Status materialise();
  Status cutTo(std::uint64_t size);

  FileHandleOpener& opener_;
  const std::string name_;
  std::unique_ptr<FileHandle> handle_;  // null: not created yet, or finished
  FileFacts facts_;
  std::uint64_t end_;  // where the next write goes
  bool finished_ = false;
};

// Opens `name` as an output file the lazy way (see above).
Result<std::unique_ptr<OutputFile>> openLazily(FileHandleOpener& opener, const std::string& name);

}  // namespace vorta
