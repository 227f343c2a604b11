// Telling the service manager how the run goes: systemd's notification
// protocol, one datagram per state to the socket that NOTIFY_SOCKET names
// ("READY=1", "STATUS=...", "WATCHDOG=1", "STOPPING=1"). Without
// NOTIFY_SOCKET (a terminal, a pipe, a plain service) every call does nothing.
//
// Contract: made once, on the main thread, from the environment
// (fromEnvironment). After that send() may be called from any thread: each
// call is one sendto() on a socket that nothing else changes. The notifier
// owns its socket and closes it when destroyed; it is move-only.
// A failed send is returned but is never a reason to stop a recording.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Result.h"

namespace vorta {

class ServiceNotifier {
 public:
  // Does nothing: no service manager listens.
  ServiceNotifier() = default;
  // NOTIFY_SOCKET: a socket path, or "@name" for the abstract namespace.
  // WATCHDOG_USEC (and WATCHDOG_PID, when set, naming this process): the
  // watchdog's interval.
  static ServiceNotifier fromEnvironment();
  // For tests: the socket and interval given.
  ServiceNotifier(const std::string& socketName, std::int64_t watchdogMicroseconds);

  ServiceNotifier(ServiceNotifier&& other) noexcept;
  ServiceNotifier& operator=(ServiceNotifier&& other) noexcept;
  ServiceNotifier(const ServiceNotifier&) = delete;
  ServiceNotifier& operator=(const ServiceNotifier&) = delete;
  ~ServiceNotifier();

  bool enabled() const { return fd_ >= 0; }
  // 0 when no watchdog is set; "WATCHDOG=1" must come more often than this.
  std::int64_t watchdogMicroseconds() const { return watchdogUsec_; }

  // One datagram with `state` ("KEY=value" lines), or nothing when disabled.
  Status send(std::string_view state) const;

 private:
  int fd_ = -1;
  std::string address_;  // the socket's name as the kernel takes it
  std::int64_t watchdogUsec_ = 0;
};

}  // namespace vorta
