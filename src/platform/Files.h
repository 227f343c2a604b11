// Files: MP3 output files and the stop-file.
//
// Contract: FileSystem is a seam; the program uses systemFileSystem(), tests
// pass a fake. Output files are created and written by the encoder thread
// only; exists and remove are used by the capture loop on the main thread.
// Errors are returned as the system's error number, turned into the system's
// own text by errorText, once, where the message is printed.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vorta {

// One open output file. Owned by whoever created it; the destructor closes a
// file that was not closed explicitly, ignoring errors (error paths only).
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Writes every byte: short writes are finished and EINTR is retried.
  // Returns 0 or the error number. All or nothing: a write that fails part-way
  // (a full disk) takes back what it did write, so the file holds exactly the
  // bytes of the calls that succeeded.
  virtual int write(const void* bytes, std::size_t length) = 0;
  // Cuts the file back to its first `size` bytes; later writes follow them.
  // Returns 0 or the error number. A file that cannot be cut keeps its bytes
  // and says so.
  virtual int truncate(std::uint64_t size) {
    static_cast<void>(size);
    return ENOTSUP;
  }
  // Closes the file; a failing close is reported like a failing write.
  virtual int close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Creates (or truncates) the file for writing, readable by others, with the
  // sequential-access hint. On failure returns nullptr and sets error.
  virtual std::unique_ptr<OutputFile> create(const std::string& name, int& error) = 0;
  // Whether a file or directory of that name exists.
  virtual bool exists(const std::string& path) = 0;
  // Deletes the file; the result is ignored by callers.
  virtual void remove(const std::string& path) = 0;
  // The system's own text for an error number.
  virtual std::string errorText(int error) = 0;
};

FileSystem& systemFileSystem();

}  // namespace vorta
