#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Syscall.h"

namespace vorta {
namespace {

class LinuxOutputFile final : public OutputFile {
 public:
  explicit LinuxOutputFile(int fd) : fd_(fd) {}
  ~LinuxOutputFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  int write(const void* bytes, std::size_t length) override {
    const int error = writeAll(static_cast<const char*>(bytes), length);
    if (error == 0) {
      size_ += length;
      return 0;
    }
    // Whatever the failing call did write would sit in the file uncounted,
    // most likely as the front part of a frame: take it back. The caller
    // hears of the original failure, not of the clean-up.
    static_cast<void>(cutTo(size_));
    return error;
  }

  int truncate(std::uint64_t size) override { return cutTo(size); }

  int close() override {
    const int fd = fd_;
    fd_ = -1;
    // Never retry close on EINTR: the descriptor is gone either way on Linux.
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
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
  int cutTo(std::uint64_t size) {
    const auto at = static_cast<off_t>(size);
    if (retryOnInterrupt([&] { return ::ftruncate(fd_, at); }) != 0) return errno;
    if (::lseek(fd_, at, SEEK_SET) < 0) return errno;
    size_ = size;
    return 0;
  }

  int fd_;
  std::uint64_t size_ = 0;  // bytes of the successful writes (the file was created empty)
};

class LinuxFileSystem final : public FileSystem {
 public:
  std::unique_ptr<OutputFile> create(const std::string& name, int& error) override {
    const int fd = retryOnInterrupt(
        [&] { return ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
    if (fd < 0) {
      error = errno;
      return nullptr;
    }
    (void)posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<LinuxOutputFile>(fd);
  }

  bool exists(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }

  void remove(const std::string& path) override { (void)::unlink(path.c_str()); }

  std::string errorText(int error) override { return std::strerror(error); }
};

}  // namespace

FileSystem& systemFileSystem() {
  static LinuxFileSystem files;
  return files;
}

}  // namespace vorta
