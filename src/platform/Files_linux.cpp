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
    const char* p = static_cast<const char*>(bytes);
    while (length > 0) {
      const ssize_t n = retryOnInterrupt([&] { return ::write(fd_, p, length); });
      if (n < 0) return errno;
      if (n == 0) return EIO;
      p += n;
      length -= static_cast<std::size_t>(n);
    }
    return 0;
  }

  int close() override {
    const int fd = fd_;
    fd_ = -1;
    // Never retry close on EINTR: the descriptor is gone either way on Linux.
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_;
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
