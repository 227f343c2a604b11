// Windows has no NOTIFY_SOCKET protocol: a service there talks to the service
// control manager instead, which this console program does not do. Every
// notifier is disabled and every call does nothing.
#include "platform/Notify.h"

#include <utility>

namespace vorta {

ServiceNotifier ServiceNotifier::fromEnvironment() { return ServiceNotifier(); }

ServiceNotifier::ServiceNotifier(const std::string&, std::int64_t) {}

ServiceNotifier::ServiceNotifier(ServiceNotifier&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      address_(std::move(other.address_)),
      watchdogUsec_(std::exchange(other.watchdogUsec_, 0)) {}

ServiceNotifier& ServiceNotifier::operator=(ServiceNotifier&& other) noexcept {
  fd_ = std::exchange(other.fd_, -1);
  address_ = std::move(other.address_);
  watchdogUsec_ = std::exchange(other.watchdogUsec_, 0);
  return *this;
}

ServiceNotifier::~ServiceNotifier() = default;

Status ServiceNotifier::send(std::string_view) const { return {}; }

}  // namespace vorta
