// Output files over POSIX descriptors (the rules of an output file are
// LazyOutputFile's), with 64-bit offsets on every build
// (the build defines _FILE_OFFSET_BITS=64, checked below).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/Files.h"
#include "platform/LazyOutputFile.h"
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

// One descriptor, closed by its owner.
class LinuxFileHandle final : public FileHandle {
 public:
  explicit LinuxFileHandle(int fd) : fd_(fd) {}
  ~LinuxFileHandle() override {
    if (fd_ >= 0) ::close(fd_);
  }

  Result<FileFacts> facts() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return lastError();
    return FileFacts{true, static_cast<std::uint64_t>(S_ISREG(st.st_mode) ? st.st_size : 0),
                    WallSeconds(std::chrono::seconds(st.st_mtime))};
  }

  Result<std::size_t> readAt(std::uint64_t offset, void* bytes, std::size_t length) override {
    const ssize_t n =
        retryOnInterrupt([&] { return ::pread(fd_, bytes, length, static_cast<off_t>(offset)); });
    if (n < 0) return lastError();
    return static_cast<std::size_t>(n);
  }

  // pread leaves the position alone: it is always the end already.
  Result<std::size_t> write(std::uint64_t /*end*/, const void* bytes, std::size_t length) override {
    const ssize_t n = retryOnInterrupt([&] { return ::write(fd_, bytes, length); });
    if (n < 0) return lastError();
    if (n == 0) return systemError(EIO);
    return static_cast<std::size_t>(n);
  }

  Status truncate(std::uint64_t size) override {
    const auto at = static_cast<off_t>(size);
    if (retryOnInterrupt([&] { return ::ftruncate(fd_, at); }) != 0) {
      // Devices and pipes have no length to cut.
      if (errno != EINVAL) return lastError();
      return Error{ErrorKind::NotSupported, EINVAL, std::strerror(EINVAL)};
    }
    if (::lseek(fd_, at, SEEK_SET) < 0) return lastError();
    return {};
  }

  // Devices and pipes (an output of /dev/null) cannot be synced: EINVAL there
  // means there is nothing to force to a disk.
  Status sync() override {
    if (::fsync(fd_) == 0 || errno == EINVAL) return {};
    return lastError();
  }

  // Never retry close on EINTR: the descriptor is gone either way on Linux.
  Status close() override {
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) return lastError();
    return {};
  }

 private:
  int fd_;
};

Result<std::unique_ptr<FileHandle>> handleFor(int fd) {
  if (fd < 0) return lastError();
  (void)posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return std::unique_ptr<FileHandle>(std::make_unique<LinuxFileHandle>(fd));
}

class LinuxFileHandleOpener final : public FileHandleOpener {
 public:
  // Opened for reading too (a restarted recording reads its frames back), or
  // write-only where reading is not allowed.
  Result<std::unique_ptr<FileHandle>> openExisting(const std::string& name) override {
    int fd = retryOnInterrupt([&] { return ::open(name.c_str(), O_RDWR | O_CLOEXEC); });
    if (fd < 0 && errno == EACCES)
      fd = retryOnInterrupt([&] { return ::open(name.c_str(), O_WRONLY | O_CLOEXEC); });
    if (fd >= 0) (void)::lseek(fd, 0, SEEK_END);
    return handleFor(fd);
  }

  Status probeCreate(const std::string& name) override {
    const int probe = retryOnInterrupt(
        [&] { return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
    if (probe < 0) return lastError();
    ::close(probe);
    (void)::unlink(name.c_str());
    return {};
  }

  Result<std::unique_ptr<FileHandle>> create(const std::string& name) override {
    return handleFor(retryOnInterrupt(
        [&] { return ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); }));
  }
};

class LinuxFileSystem final : public FileSystem {
 public:
  Result<std::unique_ptr<OutputFile>> open(const std::string& name) override {
    return openLazily(handles_, name);
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
  LinuxFileHandleOpener handles_;
};

}  // namespace

FileSystem& systemFileSystem() {
  static LinuxFileSystem files;
  return files;
}

}  // namespace vorta
