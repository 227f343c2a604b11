#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Notify.h"

namespace vorta {
namespace {

// A service manager's end: a datagram socket bound to `name` ('@': abstract).
class Listener {
 public:
  explicit Listener(const std::string& name) : fd_(::socket(AF_UNIX, SOCK_DGRAM, 0)) {
    sockaddr_un at{};
    at.sun_family = AF_UNIX;
    std::memcpy(at.sun_path, name.data(), name.size());
    if (name[0] == '@') at.sun_path[0] = '\0';
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&at), length), 0) << std::strerror(errno);
  }
  ~Listener() { ::close(fd_); }
  std::string receive() {
    char buffer[256];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    return n < 0 ? "(nothing)" : std::string(buffer, static_cast<std::size_t>(n));
  }

 private:
  int fd_;
};

TEST(ServiceNotifier, SendsEachStateAsOneDatagramToAPathOrAnAbstractName) {
  const std::string path = ::testing::TempDir() + "notify-" + std::to_string(::getpid());
  ::unlink(path.c_str());
  for (const std::string& name : {path, "@vorta-notify-" + std::to_string(::getpid())}) {
    Listener manager(name);
    ServiceNotifier notifier(name, 0);
    ASSERT_TRUE(notifier.enabled()) << name;
    EXPECT_TRUE(notifier.send("READY=1").ok());
    EXPECT_TRUE(notifier.send("STATUS=12.5 KB, 0:00:01").ok());
    EXPECT_EQ(manager.receive(), "READY=1");
    EXPECT_EQ(manager.receive(), "STATUS=12.5 KB, 0:00:01");
    EXPECT_EQ(manager.receive(), "(nothing)");
  }
  ::unlink(path.c_str());
}

TEST(ServiceNotifier, NamesThatAreNoSocketLeaveItDisabledAndSilent) {
  const std::string tooLong(108, '/');  // no room for the path's closing zero
  for (const std::string& name : {std::string(), std::string("@"), std::string("relative"), tooLong}) {
    const ServiceNotifier notifier(name, 0);
    EXPECT_FALSE(notifier.enabled()) << name;
    EXPECT_TRUE(notifier.send("READY=1").ok());
  }
}

TEST(ServiceNotifier, ASocketNobodyListensOnIsAnErrorWithTheSystemsText) {
  const ServiceNotifier notifier(::testing::TempDir() + "no-such-notify-socket", 0);
  const Status sent = notifier.send("WATCHDOG=1");
  ASSERT_FALSE(sent.ok());
  EXPECT_EQ(sent.error().code, ENOENT);
  EXPECT_FALSE(sent.error().text.empty());
}

TEST(ServiceNotifier, TheWatchdogIntervalCountsOnlyForThisProcess) {
  const std::string self = std::to_string(::getpid());
  struct Case {
    const char* socket;
    const char* usec;
    const char* pid;  // nullptr: unset
    bool enabled;
    std::int64_t watchdog;
  } cases[] = {
      {nullptr, "30000000", nullptr, false, 0},
      {"@vorta-env", nullptr, nullptr, true, 0},
      {"@vorta-env", "30000000", nullptr, true, 30000000},
      {"@vorta-env", "30000000", self.c_str(), true, 30000000},
      {"@vorta-env", "30000000", "1", true, 0},
      {"@vorta-env", "30s", nullptr, true, 0},
      {"@vorta-env", "-5", nullptr, true, 0},
  };
  for (const Case& c : cases) {
    for (const auto& [key, value] : {std::pair{"NOTIFY_SOCKET", c.socket},
                                     std::pair{"WATCHDOG_USEC", c.usec},
                                     std::pair{"WATCHDOG_PID", c.pid}}) {
      if (value) ::setenv(key, value, 1); else ::unsetenv(key);
    }
    const ServiceNotifier notifier = ServiceNotifier::fromEnvironment();
    EXPECT_EQ(notifier.enabled(), c.enabled) << c.usec << " " << (c.pid ? c.pid : "-");
    EXPECT_EQ(notifier.watchdogMicroseconds(), c.watchdog) << c.usec << " " << (c.pid ? c.pid : "-");
  }
  for (const char* key : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"}) ::unsetenv(key);
}

}  // namespace
}  // namespace vorta
