// FileHandle: the few calls of the system an output file is made of.
//
// Contract: each system implements FileHandle (one open file) and
// FileHandleOpener (opening one) with nothing but its own calls; the rules
// of an output file (created by its first change, a failed write taken back,
// synced at the end) are LazyOutputFile's, written once for every system.
// Tests stand in for both with a file kept in memory.
//
// A handle is owned by one LazyOutputFile, which is used by one thread at a
// time (the encoder thread); handles are owned through unique_ptr and never
// copied. Every failure comes back as an Error with the system's number and
// text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Files.h"
#include "platform/Result.h"

namespace vorta {

// One open file. The destructor closes a handle that was not closed, without
// syncing (error paths only).
class FileHandle {
 public:
  FileHandle() = default;
  virtual ~FileHandle() = default;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // Size and last modification of what is there (size 0 for a device).
  virtual Result<FileFacts> facts() = 0;
  // Reads up to `length` bytes at `offset`; fewer (0) at the file's end.
  virtual Result<std::size_t> readAt(std::uint64_t offset, void* bytes, std::size_t length) = 0;
  // Writes some of the bytes, at least one, at `end`, which is always the
  // file's end; interrupted calls are retried. A short count is no failure.
  virtual Result<std::size_t> write(std::uint64_t end, const void* bytes, std::size_t length) = 0;
  // Cuts the file to `size` bytes and puts the write position there. A
  // device or pipe, which has no length, fails with ErrorKind::NotSupported.
  virtual Status truncate(std::uint64_t size) = 0;
  // Forces the bytes to the disk; a device has nothing to force.
  virtual Status sync() = 0;
  // Closes the handle; it takes no more calls.
  virtual Status close() = 0;
};

class FileHandleOpener {
 public:
  virtual ~FileHandleOpener() = default;
  // Opens an existing file for writing (and reading where allowed), the
  // write position at its end; ErrorKind::NotFound when there is none.
  virtual Result<std::unique_ptr<FileHandle>> openExisting(const std::string& name) = 0;
  // Whether `name` can be created: creates it and removes it again.
  virtual Status probeCreate(const std::string& name) = 0;
  // Creates `name` empty (replacing a file of that name) for writing.
  virtual Result<std::unique_ptr<FileHandle>> create(const std::string& name) = 0;
};

}  // namespace vorta
