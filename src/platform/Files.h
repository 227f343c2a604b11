// Files: MP3 output files and the stop-file.
//
// Contract: FileSystem is a seam; the program uses systemFileSystem(), tests
// pass a fake. Output files are opened, written and finished by the encoder
// thread only; exists and remove are used by the capture loop. Every failure
// comes back as an Error with the system's number and its own text.
//
// Opening changes nothing on disk: an existing file keeps its bytes until the
// first write or truncate, and a file that did not exist is created by the
// first write or truncate (whether it can be created is tried at the open, by
// creating it and removing it again). So a run that records nothing, however
// it ends, leaves the file system as it found it. Each system's open() keeps
// these rules through LazyOutputFile, which writes them once for all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Result.h"

namespace vorta {

// What was on disk under the name when it was opened.
struct FileFacts {
  bool existed = false;
  std::uint64_t size = 0;
  WallSeconds modified{};  // last modification
};

// One open output file, owned by whoever opened it. The destructor closes a
// file that was not finished, without syncing (error paths only). Writes go
// to the end of the file (an existing file's end at first); truncate moves
// that end.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual const FileFacts& facts() const = 0;
  // Reads up to `length` bytes at `offset`; fewer (0) at the file's end.
  virtual Result<std::size_t> readAt(std::uint64_t offset, void* bytes, std::size_t length) = 0;
  // Writes every byte: short writes are finished and EINTR is retried. All or
  // nothing: a write that fails part-way (a full disk) takes back what it did
  // write, so the file holds exactly the bytes of the calls that succeeded.
  virtual Status write(const void* bytes, std::size_t length) = 0;
  // Cuts the file to its first `size` bytes; later writes follow them.
  virtual Status truncate(std::uint64_t size) = 0;
  // Forces the bytes to the disk (fsync) and closes the file; either
  // failing is reported like a failed write. Call once, last.
  virtual Status finish() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens `name` for writing (readable by others, the umask applies) with
  // the sequential-access hint; fails when the file cannot be written or
  // created.
  virtual Result<std::unique_ptr<OutputFile>> open(const std::string& name) = 0;
  // Whether a file or directory of that name exists.
  virtual bool exists(const std::string& path) = 0;
  // Deletes the file; the result is ignored by callers.
  virtual void remove(const std::string& path) = 0;

  // The folders of named split files (the encoder thread) and the deletion
  // of old ones (the retention thread). A fake that needs none of it keeps these
  // defaults: nothing to make, empty folders, nothing deleted.
  enum class EntryKind { RegularFile, Folder, Other };
  struct Entry {
    std::string name;  // without the folder
    EntryKind kind = EntryKind::Other;  // as the entry itself is: a link is Other
    WallSeconds modified{};             // last modification
  };
  // Creates each missing folder of the directory part of `filePath`.
  virtual Status makeFolders(const std::string& /*filePath*/) { return {}; }
  // The entries of a folder, without "." and "..", in no particular order.
  virtual Result<std::vector<Entry>> listFolder(const std::string& /*folder*/) {
    return std::vector<Entry>{};
  }
  // Deletes one regular file.
  virtual Status deleteFile(const std::string& /*path*/) {
    return Error{ErrorKind::NotSupported, 0, "not supported"}; }
  // Removes a folder if it is empty; one that is not stays as it is.
  virtual Status removeEmptyFolder(const std::string& /*path*/) {
    return Error{ErrorKind::NotSupported, 0, "not supported"}; }
  // The file system that holds `folder`: the bytes a writer without special
  // rights may still use, and its whole size.
  struct Space {
    std::uint64_t available = 0;
    std::uint64_t total = 0;
  };
  virtual Result<Space> space(const std::string& /*folder*/) {
    return Error{ErrorKind::NotSupported, 0, "not supported"}; }
};

FileSystem& systemFileSystem();

}  // namespace vorta
