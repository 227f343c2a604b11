// Reading the archives' files without ever leaving an archive's folder.
//
// Contract: any thread; nothing here is shared. A path is given as the
// archive's root folder and the parts below it, each one name (the caller
// has checked them against the archive's pattern). Every level is opened
// relative to the one above with symbolic links refused, so neither a link
// nor a folder renamed meanwhile can lead outside the root; the root itself
// is the administrator's choice and may be a link. Nothing is ever written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "web/FilePlan.h"

namespace vorta::web {

// Bytes of a file mapped read-only into memory, for the kernel to send from
// without a copy through a buffer of ours; move-only, unmapped by the
// destructor. The mapping outlives the descriptor it was made from. Only the
// kernel should read it: a file cut back under the mapping makes a read of
// the lost pages a SIGBUS in user space, where a send fails with EFAULT.
class MappedBytes {
 public:
  MappedBytes(void* start, std::size_t mapped, std::size_t skip) : start_(start), mapped_(mapped), skip_(skip) {}
  MappedBytes(MappedBytes&& other) noexcept : start_(other.start_), mapped_(other.mapped_), skip_(other.skip_) {
    other.start_ = nullptr;
  }
  MappedBytes& operator=(MappedBytes&&) = delete;
  MappedBytes(const MappedBytes&) = delete;
  MappedBytes& operator=(const MappedBytes&) = delete;
  ~MappedBytes();

  const void* data() const { return static_cast<const char*>(start_) + skip_; }
  std::size_t size() const { return mapped_ - skip_; }

 private:
  void* start_;
  std::size_t mapped_, skip_;  // the mapping starts at a page, `skip_` bytes before the asked offset
};

// One open regular file, read-only; move-only, closed by the destructor.
class ReadOnlyFile {
 public:
  ReadOnlyFile(int descriptor, FileVersion version) : fd_(descriptor), version_(version) {}
  ReadOnlyFile(ReadOnlyFile&& other) noexcept : fd_(other.fd_), version_(other.version_) { other.fd_ = -1; }
  ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  ~ReadOnlyFile();

  // Size and modification time as they were at the open.
  const FileVersion& version() const { return version_; }
  // Up to `length` bytes at `offset` (EINTR retried); fewer at the end, -1 on an error.
  long long readAt(std::uint64_t offset, void* bytes, std::size_t length) const;
  // The bytes [offset, offset + length) mapped (length > 0); empty when the
  // system refuses.
  std::optional<MappedBytes> map(std::uint64_t offset, std::size_t length) const;
  // Hands the descriptor over (to the HTTP library, which closes it).
  int release();

 private:
  int fd_;
  FileVersion version_;
};

std::optional<ReadOnlyFile> openBelow(const std::string& root, const std::vector<std::string>& parts);
// The names of the regular files and folders (never links) in a folder below root.
std::vector<std::string> listBelow(const std::string& root, const std::vector<std::string>& parts);
// Bytes free for an unprivileged user on the folder's file system.
std::optional<std::uint64_t> freeBytes(const std::string& folder);

}  // namespace vorta::web
