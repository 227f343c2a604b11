#include "platform/Notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/Syscall.h"

namespace vorta {
namespace {

// A whole decimal number or -1.
std::int64_t parseCount(const char* text) {
  if (!text || !*text) return -1;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0') return -1;
  return value;
}

}  // namespace

ServiceNotifier ServiceNotifier::fromEnvironment() {
  const char* socketName = std::getenv("NOTIFY_SOCKET");
  if (!socketName || !*socketName) return ServiceNotifier();
  std::int64_t watchdog = parseCount(std::getenv("WATCHDOG_USEC"));
  // The watchdog is meant for the process WATCHDOG_PID names, when it names one.
  const std::int64_t pid = parseCount(std::getenv("WATCHDOG_PID"));
  if (std::getenv("WATCHDOG_PID") && pid != static_cast<std::int64_t>(::getpid())) watchdog = 0;
  return ServiceNotifier(socketName, watchdog > 0 ? watchdog : 0);
}

ServiceNotifier::ServiceNotifier(const std::string& socketName, std::int64_t watchdogMicroseconds)
    : address_(socketName), watchdogUsec_(watchdogMicroseconds) {
  // Only a path or an abstract name fits; anything else leaves it disabled.
  if (address_.size() < 2 || address_.size() >= sizeof(sockaddr_un::sun_path)) return;
  if (address_[0] == '@') {
    address_[0] = '\0';
  } else if (address_[0] != '/') {
    return;
  }
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

ServiceNotifier::ServiceNotifier(ServiceNotifier&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      address_(std::move(other.address_)),
      watchdogUsec_(other.watchdogUsec_) {}

ServiceNotifier& ServiceNotifier::operator=(ServiceNotifier&& other) noexcept {
  if (this == &other) return *this;
  if (fd_ >= 0) ::close(fd_);
  fd_ = std::exchange(other.fd_, -1);
  address_ = std::move(other.address_);
  watchdogUsec_ = other.watchdogUsec_;
  return *this;
}

ServiceNotifier::~ServiceNotifier() {
  if (fd_ >= 0) ::close(fd_);
}

Status ServiceNotifier::send(std::string_view state) const {
  if (fd_ < 0) return {};
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  std::memcpy(to.sun_path, address_.data(), address_.size());
  // An abstract name's length is exactly its bytes; a path's ends at its zero.
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address_.size() +
                                             (address_[0] == '\0' ? 0 : 1));
  // Never waits: a service manager that stops reading must not hold up the
  // capture loop that sends its heartbeat; a full queue drops this state.
  const ssize_t sent = retryOnInterrupt([&] {
    return ::sendto(fd_, state.data(), state.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                    reinterpret_cast<const sockaddr*>(&to), length);
  });
  if (sent < 0) return Error{ErrorKind::Failed, errno, std::strerror(errno)};
  return {};
}

}  // namespace vorta
