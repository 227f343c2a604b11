// Output files over POSIX descriptors, with 64-bit offsets on every build
// (the build defines _FILE_OFFSET_BITS=64, checked below).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Files.h"
#include "platform/Syscall.h"

static_assert(sizeof(off_t) == 8, "output files need 64-bit offsets");

namespace vorta {
namespace {

ErrorKind kindOf(int code) {
  switch (code) {
    case ENOSPC: case EDQUOT: case EFBIG: return ErrorKind::DiskFull;
    case EACCES: case EPERM: case EROFS: return ErrorKind::NoPermission;
    case ENOENT: case ENOTDIR: return ErrorKind::NotFound;
    case ENOMEM: return ErrorKind::OutOfMemory;
    default: return ErrorKind::Failed;
  }
}

Error systemError(int code) { return Error{kindOf(code), code, std::strerror(code)}; }
Error lastError() { return systemError(errno); }

class LinuxOutputFile final : public OutputFile {
 public:
  LinuxOutputFile(std::string name, int fd, FileFacts facts)
      : name_(std::move(name)), fd_(fd), facts_(facts), end_(facts.size) {}
  ~LinuxOutputFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  LinuxOutputFile(const LinuxOutputFile&) = delete;
  LinuxOutputFile& operator=(const LinuxOutputFile&) = delete;

  const FileFacts& facts() const override { return facts_; }

  Result<std::size_t> readAt(std::uint64_t offset, void* bytes, std::size_t length) override {
    if (fd_ < 0) return std::size_t{0};  // not created yet: empty
    const ssize_t n =
        retryOnInterrupt([&] { return ::pread(fd_, bytes, length, static_cast<off_t>(offset)); });
    if (n < 0) return lastError();
    return static_cast<std::size_t>(n);
  }

  Status write(const void* bytes, std::size_t length) override {
    if (Status made = materialise(); !made.ok()) return made;
    const int error = writeAll(static_cast<const char*>(bytes), length);
    if (error == 0) {
      end_ += length;
      return {};
    }
    // Whatever the failing call did write would sit in the file uncounted,
    // most likely as the front part of a frame: take it back. The caller
    // hears of the original failure, not of the clean-up.
    static_cast<void>(cutTo(end_));
    return systemError(error);
  }

  Status truncate(std::uint64_t size) override {
    if (Status made = materialise(); !made.ok()) return made;
    return cutTo(size);
  }

  Status finish() override {
    if (fd_ < 0) return {};
    const int fd = fd_;
    fd_ = -1;
    // Devices and pipes (an output of /dev/null) cannot be synced: EINVAL
    // there means there is nothing to force to a disk.
    const int synced = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    // Never retry close on EINTR: the descriptor is gone either way on Linux.
    const int closed = ::close(fd) == 0 ? 0 : errno;
    if (synced != 0) return systemError(synced);
    return closed == 0 ? Status{} : systemError(closed);
  }

 private:
  // A file that did not exist at the open is created by its first change.
  Status materialise() {
    if (fd_ >= 0) return {};
    fd_ = retryOnInterrupt(
        [&] { return ::open(name_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
    if (fd_ < 0) return lastError();
    (void)posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    end_ = 0;
    return {};
  }

  int writeAll(const char* p, std::size_t length) {
    while (length > 0) {
      const ssize_t n = retryOnInterrupt([&] { return ::write(fd_, p, length); });
      if (n < 0) return errno;
      if (n == 0) return EIO;
      p += n;
      length -= static_cast<std::size_t>(n);
    }
    return 0;
  }

  // The size and the write position go back together, so that the next
  // write continues at the cut instead of leaving a hole.
  Status cutTo(std::uint64_t size) {
    const auto at = static_cast<off_t>(size);
    if (retryOnInterrupt([&] { return ::ftruncate(fd_, at); }) != 0) {
      // Devices and pipes have no length to cut; nothing was written there.
      if (errno != EINVAL || end_ != size) return lastError();
    }
    if (::lseek(fd_, at, SEEK_SET) < 0 && errno != ESPIPE) return lastError();
    end_ = size;
    return {};
  }

  std::string name_;
  int fd_;  // -1: not created yet, or finished
  FileFacts facts_;
  std::uint64_t end_;  // where the next write goes
};

// An existing file: opened for reading too (a restarted recording reads its
// frames back), or write-only where reading is not allowed.
int openExisting(const std::string& name) {
  const int fd = retryOnInterrupt([&] { return ::open(name.c_str(), O_RDWR | O_CLOEXEC); });
  if (fd >= 0 || errno != EACCES) return fd;
  return retryOnInterrupt([&] { return ::open(name.c_str(), O_WRONLY | O_CLOEXEC); });
}

class LinuxFileSystem final : public FileSystem {
 public:
  Result<std::unique_ptr<OutputFile>> open(const std::string& name) override {
    const int fd = openExisting(name);
    if (fd >= 0) return opened(name, fd);
    if (errno != ENOENT) return lastError();
    // Not there: make sure it can be created, and leave nothing behind.
    const int probe = retryOnInterrupt(
        [&] { return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
    if (probe < 0) return lastError();
    ::close(probe);
    (void)::unlink(name.c_str());
    return std::unique_ptr<OutputFile>(std::make_unique<LinuxOutputFile>(name, -1, FileFacts{}));
  }

  bool exists(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }

  void remove(const std::string& path) override { (void)::unlink(path.c_str()); }

  Status makeFolders(const std::string& filePath) override {
    // Each prefix that ends at a '/' is a folder to have; one that is there
    // already (EEXIST) is fine, whatever made it.
    for (std::size_t at = filePath.find('/', 1); at != std::string::npos;
         at = filePath.find('/', at + 1)) {
      const std::string folder = filePath.substr(0, at);
      if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) return lastError();
    }
    return {};
  }

  Result<std::vector<Entry>> listFolder(const std::string& folder) override {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return lastError();
    std::vector<Entry> entries;
    while (const dirent* d = ::readdir(dir.get())) {
      const std::string name = d->d_name;
      if (name == "." || name == "..") continue;
      struct stat st {};
      // lstat: a link is never followed, so only real files are ever deleted.
      if (::lstat((folder + "/" + name).c_str(), &st) != 0) continue;
      const EntryKind kind = S_ISREG(st.st_mode)   ? EntryKind::RegularFile
                             : S_ISDIR(st.st_mode) ? EntryKind::Folder
                                                   : EntryKind::Other;
      entries.push_back(Entry{name, kind, WallSeconds(std::chrono::seconds(st.st_mtime))});
    }
    return entries;
  }

  Status deleteFile(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return lastError();
    return {};
  }

  Status removeEmptyFolder(const std::string& path) override {
    if (::rmdir(path.c_str()) != 0) return lastError();
    return {};
  }

  Result<Space> space(const std::string& folder) override {
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) != 0) return lastError();
    return Space{static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize,
                 static_cast<std::uint64_t>(fs.f_blocks) * fs.f_frsize};
  }

 private:
  static Result<std::unique_ptr<OutputFile>> opened(const std::string& name, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      const Error error = lastError();
      ::close(fd);
      return error;
    }
    FileFacts facts{true, static_cast<std::uint64_t>(S_ISREG(st.st_mode) ? st.st_size : 0),
                    WallSeconds(std::chrono::seconds(st.st_mtime))};
    (void)::lseek(fd, 0, SEEK_END);
    (void)posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::unique_ptr<OutputFile>(std::make_unique<LinuxOutputFile>(name, fd, facts));
  }
};

}  // namespace

FileSystem& systemFileSystem() {
  static LinuxFileSystem files;
  return files;
}

}  // namespace vorta
