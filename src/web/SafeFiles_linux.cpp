#include "web/SafeFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace vorta::web {
namespace {

// Opens each folder level below root without following links; -1 when one
// is missing, not a folder, or a link.
int openFolder(const std::string& root, const std::vector<std::string>& parts, std::size_t levels) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (std::size_t i = 0; fd >= 0 && i < levels; ++i) {
    const int next = ::openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  return fd;
}

bool safeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool safeParts(const std::vector<std::string>& parts) {
  for (const std::string& p : parts)
    if (!safeName(p)) return false;
  return true;
}

}  // namespace

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    version_ = other.version_;
    other.fd_ = -1;
  }
  return *this;
}

ReadOnlyFile::~ReadOnlyFile() {
  if (fd_ >= 0) ::close(fd_);
}

long long ReadOnlyFile::readAt(std::uint64_t offset, void* bytes, std::size_t length) const {
  for (;;) {
    const ssize_t n = ::pread(fd_, bytes, length, off_t(offset));
    if (n >= 0 || errno != EINTR) return n;
  }
}

std::optional<MappedBytes> ReadOnlyFile::map(std::uint64_t offset, std::size_t length) const {
  static const std::uint64_t page = std::uint64_t(::sysconf(_SC_PAGESIZE));
  const std::uint64_t start = offset - offset % page;
  const std::size_t skip = std::size_t(offset - start);
  void* at = ::mmap(nullptr, skip + length, PROT_READ, MAP_SHARED, fd_, off_t(start));
  if (at == MAP_FAILED) return {};
  // Sent front to back once: read ahead, and drop the pages behind.
  ::madvise(at, skip + length, MADV_SEQUENTIAL);
  return MappedBytes(at, skip + length, skip);
}

MappedBytes::~MappedBytes() {
  if (start_ != nullptr) ::munmap(start_, mapped_);
}

int ReadOnlyFile::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

std::optional<ReadOnlyFile> openBelow(const std::string& root, const std::vector<std::string>& parts) {
  if (parts.empty() || !safeParts(parts)) return {};
  const int folder = openFolder(root, parts, parts.size() - 1);
  if (folder < 0) return {};
  const int fd = ::openat(folder, parts.back().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  ::close(folder);
  if (fd < 0) return {};
  struct stat facts {};
  if (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode)) {
    ::close(fd);
    return {};
  }
  const std::int64_t ns = std::int64_t(facts.st_mtim.tv_sec) * 1000000000 + facts.st_mtim.tv_nsec;
  return ReadOnlyFile(fd, FileVersion{std::uint64_t(facts.st_size), ns});
}

std::vector<std::string> listBelow(const std::string& root, const std::vector<std::string>& parts) {
  std::vector<std::string> names;
  if (!safeParts(parts)) return names;
  const int fd = openFolder(root, parts, parts.size());
  if (fd < 0) return names;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    struct stat facts {};
    if (!safeName(name) || ::fstatat(fd, entry->d_name, &facts, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(facts.st_mode) || S_ISDIR(facts.st_mode)) names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

std::optional<std::uint64_t> freeBytes(const std::string& folder) {
  struct statvfs facts {};
  if (::statvfs(folder.c_str(), &facts) != 0) return {};
  return std::uint64_t(facts.f_bavail) * facts.f_frsize;
}

}  // namespace vorta::web
