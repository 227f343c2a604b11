#include "platform/ReplaceFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Syscall.h"

namespace vorta {
namespace {

// A full disk is told apart: the status file then says why it is stale.
Error replaceError(int code) {
  const bool full = code == ENOSPC || code == EDQUOT;
  return Error{full ? ErrorKind::DiskFull : ErrorKind::Failed, code, std::strerror(code)};
}

Status writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = retryOnInterrupt([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (n < 0) return replaceError(errno);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

}  // namespace

Status replaceFileWhole(const std::string& path, std::string_view bytes) {
  const std::string temporary = path + ".tmp";
  const int fd = retryOnInterrupt(
      [&] { return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
  if (fd < 0) return replaceError(errno);
  Status written = writeAll(fd, bytes);
  if (written.ok() && ::fsync(fd) != 0) written = replaceError(errno);
  // Never retry close on EINTR: the descriptor is gone either way on Linux.
  if (::close(fd) != 0 && written.ok() && errno != EINTR) written = replaceError(errno);
  if (written.ok() && std::rename(temporary.c_str(), path.c_str()) != 0) written = replaceError(errno);
  if (!written.ok()) ::unlink(temporary.c_str());
  return written;
}

}  // namespace vorta
