#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "Fakes.h"
#include "base/LogLines.h"
#include "capture/ServiceHeartbeat.h"
#include "monitor/StatusRelay.h"
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
  // Every datagram waiting, one per line.
  std::string receiveAll() {
    std::string all;
    for (std::string one; (one = receive()) != "(nothing)";) all += one + "\n";
    return all;
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

TEST(LogLines, EachMessageBecomesWholeLinesWithoutCarriageReturnsOrBlankLines) {
  const struct {
    const char* terminal;
    const char* log;
  } cases[] = {
      {"\r\n* Sound input overrun: about 40 ms of sound lost.\r\n",
       "* Sound input overrun: about 40 ms of sound lost.\n"},
      {"* Invalid argument -q.\n\r\n", "* Invalid argument -q.\n"},
      {"Record: 1.5 kbytes (0:00:01), buffer free: 100.0%, CPU usage: 0.5%    \r",
       "Record: 1.5 kbytes (0:00:01), buffer free: 100.0%, CPU usage: 0.5%\n"},
      {"\r\n* Cannot create the file", "* Cannot create the file\n"},  // left open
      {"\nBanner\nEngine\n\n", "Banner\nEngine\n"},
      {"\r                                        \r", ""},  // the prompt's eraser
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(toLogLines(c.terminal), c.log) << c.terminal;
}

constexpr std::int64_t kSecond = 10'000'000;  // Clock::systemTime() units

TEST(StatusRelay, ALogGetsALineAMinuteAndTheLastOneAtTheEnd) {
  KeptText kept;
  FakeClock clock;
  clock.wall = 1000 * kSecond;
  std::string terminal;
  const ServiceNotifier nobody;
  StatusRelay relay([&](const char* b, std::size_t n) { terminal.append(b, n); }, true, nobody,
                    clock);
  for (int second = 0; second <= 125; ++second) {
    const std::string line = "Record: " + std::to_string(second) + "    \r";
    relay.write(line.data(), line.size());
    clock.wall += kSecond;
  }
  relay.finish();
  EXPECT_EQ(kept.err, "Record: 0\nRecord: 60\nRecord: 120\nRecord: 125\n");
  EXPECT_EQ(terminal, "");
  clock.wall -= 3600 * kSecond;  // set back an hour: logged at once
  relay.write("Record: back\r", 13);
  EXPECT_EQ(kept.err.substr(kept.err.size() - 13), "Record: back\n");
}

TEST(StatusRelay, OnATerminalTheLineIsUntouchedAndAListeningManagerGetsItAsStatus) {
  const std::string name = "@vorta-status-" + std::to_string(::getpid());
  Listener manager(name);
  const ServiceNotifier notifier(name, 0);
  KeptText kept;
  FakeClock clock;
  std::string terminal;
  StatusRelay relay([&](const char* b, std::size_t n) { terminal.append(b, n); }, false, notifier,
                    clock);
  relay.write("Record: 1.5 kbytes    \r", 23);
  relay.finish();
  EXPECT_EQ(terminal, "Record: 1.5 kbytes    \r");
  EXPECT_EQ(kept.err, "");
  EXPECT_EQ(manager.receiveAll(), "STATUS=Record: 1.5 kbytes\n");
}

TEST(ServiceHeartbeat, ReadyOnceSoundFlowsWatchdogWhileItFlowsStoppingAtTheEnd) {
  const std::string name = "@vorta-heartbeat-" + std::to_string(::getpid());
  Listener manager(name);
  const ServiceNotifier notifier(name, 4'000'000);  // a 4 s watchdog: ping every 2 s
  FakeClock clock;
  clock.wall = 5000 * kSecond;
  ServiceHeartbeat heartbeat(notifier, clock);
  heartbeat.pass(false);  // the device is open, nothing has arrived yet
  EXPECT_EQ(manager.receiveAll(), "");
  heartbeat.pass(true);
  EXPECT_EQ(manager.receiveAll(), "READY=1\nWATCHDOG=1\n");
  const struct {
    std::int64_t after;  // tenths of a second since the last step
    bool sound;
    const char* sent;
  } steps[] = {
      {5, true, ""}, {14, true, ""}, {1, true, "WATCHDOG=1\n"},  // 2 s after the last
      {30, false, ""}, {10, false, ""},                          // stalled: no pings
      {1, true, "WATCHDOG=1\n"}, {5, true, ""},
      {-36000, true, "WATCHDOG=1\n"},  // the clock set back an hour
  };
  for (const auto& step : steps) {
    clock.wall += step.after * kSecond / 10;
    heartbeat.pass(step.sound);
    EXPECT_EQ(manager.receiveAll(), step.sent) << step.after;
  }
  heartbeat.stopping();
  EXPECT_EQ(manager.receiveAll(), "STOPPING=1\n");
}

}  // namespace
}  // namespace vorta
