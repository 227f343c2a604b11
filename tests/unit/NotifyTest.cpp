// Output for a service: notification datagrams, log lines, the status relay,
// the heartbeat, and --log (where the word is the option).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

#include "Fakes.h"
#include "app/ConsoleWriter.h"
#include "app/StartUp.h"
#include "base/LogLines.h"
#include "capture/ServiceHeartbeat.h"
#include "app/NotifySink.h"
#include "platform/Notify.h"

namespace vorta {
namespace {

// A service manager's end: a datagram socket bound to `name` ('@': abstract).
struct Listener {
  explicit Listener(std::string name) {
    sockaddr_un at{AF_UNIX, {}};
    name.copy(at.sun_path, name.size());
    if (name[0] == '@') at.sun_path[0] = '\0';
    EXPECT_EQ(::bind(fd, (sockaddr*)&at, socklen_t(offsetof(sockaddr_un, sun_path) + name.size())), 0);
  }
  ~Listener() { ::close(fd); }
  std::string receiveAll(std::string all = "") {  // every datagram waiting, one per line
    char b[256];
    for (ssize_t n; (n = ::recv(fd, b, sizeof b, MSG_DONTWAIT)) >= 0;) all.append(b, n) += '\n';
    return all;
  }
  int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
};
const std::string kPid = std::to_string(::getpid());
constexpr std::chrono::seconds kSecond{1};

TEST(ServiceNotifier, SendsToAPathOrAnAbstractNameElseFailsWithTheSystemsTextOrIsDisabled) {
  const std::string path = ::testing::TempDir() + "notify-" + kPid;
  for (const std::string& name : {path, "@vorta-notify-" + kPid}) {
    Listener manager(name);
    EXPECT_TRUE(ServiceNotifier(name, 0).send("READY=1").ok());
    EXPECT_EQ(manager.receiveAll(), "READY=1\n") << name;
    ::unlink(path.c_str());
  }
  const Status lost = ServiceNotifier(path, 0).send("WATCHDOG=1");  // nobody listens
  EXPECT_TRUE(!lost.ok() && lost.error().code == ENOENT && !lost.error().text.empty());
  for (const std::string& name : {std::string(), std::string("@"), "/" + std::string(107, 'x')})
    EXPECT_TRUE(!ServiceNotifier(name, 0).enabled() && ServiceNotifier(name, 0).send("A=1").ok());
}

TEST(ServiceNotifier, TheWatchdogIntervalCountsOnlyForThisProcess) {  // -1: disabled
  const struct { const char *socket, *usec, *pid; std::int64_t watchdog; } cases[] = {
      {nullptr, "30", nullptr, -1}, {"relative", "30", nullptr, -1}, {"@e", nullptr, nullptr, 0},
      {"@e", "30", nullptr, 30}, {"@e", "30", kPid.c_str(), 30}, {"@e", "30", "1", 0},
      {"@e", "30s", nullptr, 0}, {"@e", "-5", nullptr, 0}};
  for (const auto& c : cases) {
    for (const auto& [key, value] : {std::pair{"NOTIFY_SOCKET", c.socket},
                                     {"WATCHDOG_USEC", c.usec}, {"WATCHDOG_PID", c.pid}})
      value ? ::setenv(key, value, 1) : ::unsetenv(key);
    const ServiceNotifier notifier = ServiceNotifier::fromEnvironment();
    EXPECT_EQ(notifier.enabled() ? notifier.watchdogMicroseconds() : -1, c.watchdog) << c.usec;
  }
  for (const char* key : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"}) ::unsetenv(key);
}

TEST(LogLines, WholeLinesWithoutCarriageReturnsTrailingSpacesOrBlankLines) {
  const char* cases[][2] = {{"\r\n* Lost.\r\n", "* Lost.\n"}, {"* Bad.\n\r\n", "* Bad.\n"},
                            {"\r\n* Open", "* Open\n"}, {"\nA\nB\n\n", "A\nB\n"}, {"\r    \r", ""}};
  for (const auto& c : cases) EXPECT_EQ(toLogLines(c[0]), c[1]) << c[0];
}

// A log gets a status line a minute (trailing spaces gone) and the last at the end;
// a terminal each untouched, a manager as STATUS.
// The heartbeat: ready once sound flows, a ping each 2 s while it flows, stopping.
TEST(ServiceOutput, StatusLinesAndTheHeartbeat) {
  Listener manager("@vorta-status-" + kPid);
  const ServiceNotifier notifier("@vorta-status-" + kPid, 4'000'000);
  KeptReport log(true);
  FakeClock& clock = log.clock;
  std::string terminal;
  ConsoleSink toTerminal({}, false, [&](std::string_view l) { terminal += l; }, clock);
  NotifySink toManager(notifier, Language::English);
  const auto tick = [](int seconds) { return event::StatusTick{{.encodedSeconds = double(seconds)}}; };
  for (int second = 1000; second <= 1125; ++second, clock.steady += kSecond) log.reporter.post(tick(second));
  log.reporter.post(event::RecordingStopped{});
  clock.steady += 54 * kSecond;  // 1180: a minute after the last line logged
  log.reporter.post(tick(1180));
  log.reporter.post(event::RunEnded{.recorded = true, .totals = {.overruns = 2, .overrunMs = 90, .bufferOverflows = 3}});
  toTerminal.on(tick(60)), toManager.on(tick(60));
  const auto line = [](const char* time) { return "Record: 0.0 kbytes (" + std::string(time) + "), buffer free: 0.0%, CPU usage: 0.0%"; };
  EXPECT_EQ(log.text.err, line("0:16:40") + "\n" + line("0:17:40") + "\n" + line("0:18:40") + "\n" + line("0:18:45") +
                              "\n" + line("0:19:40") +
                              "\nLosses: 2 sound input overruns (about 90 ms of sound), 3 buffer overflows\n");
  EXPECT_EQ(terminal, line("0:01:00") + "    \r");
  EXPECT_EQ(manager.receiveAll(), "STATUS=" + line("0:01:00") + "\n");
  ServiceHeartbeat heartbeat(notifier, clock);
  const struct { std::int64_t after; bool sound; const char* sent; } steps[] = {  // after: 0.1 s
      {0, false, ""}, {0, true, "READY=1\nWATCHDOG=1\n"}, {19, true, ""}, {1, true, "WATCHDOG=1\n"},
      {40, false, ""}, {1, true, "WATCHDOG=1\n"}};
  for (const auto& step : steps) {
    clock.steady += step.after * std::chrono::milliseconds(100);
    heartbeat.pass(step.sound);
    EXPECT_EQ(manager.receiveAll(), step.sent) << step.after;
  }
  heartbeat.stopping();
  EXPECT_EQ(manager.receiveAll(), "STOPPING=1\n");
}

TEST(LogOption, TheWordIsTheOptionUnlessTheGrammarMakesItAValue) {  // -s takes levels only
  const struct { std::vector<std::string> args; bool run, log; const char* name; } cases[] = {
      {{"v", "--log", "r"}, true, true, "r.mp3"}, {{"v", "-b", "64", "--log"}, true, true, "out.mp3"},
      {{"v", "-s", "--log", "r"}, true, true, "r.mp3"}, {{"v", "-x", "--log", "r"}, true, false, "r.mp3"},
      {{"v", "--device", "--log", "r"}, true, false, "r.mp3"}, {{"v", "--log=1", "r"}, false, false, ""},
      {{"v", "--logs", "r"}, false, false, ""}, {{"v", "r", "--log"}, false, true, ""}};
  for (const auto& c : cases) {
    KeptText kept;
    FakeClock clock;
    const StartUp start = startUp(c.args, clock, 1u << 29, &kept);
    const bool run = std::holds_alternative<Settings>(start.outcome);
    const Settings s = run ? std::get<Settings>(start.outcome) : Settings{};
    EXPECT_TRUE(run == c.run && start.text.logLines() == c.log) << c.args[1] << c.args[2];
    EXPECT_TRUE(!run || (s.logLines == c.log && s.outputName == c.name)) << c.args[1] << c.args[2];
    // The banner, printed before the options are read, is in the log's mode too.
    EXPECT_EQ(kept.out.find(c.log ? "MP" : "\nM"), 0u) << c.args[1] << c.args[2];
  }
}

// A console that blocks: the status line waiting when a text comes is written before it, as a status
// line (raw to stderr, never on the text's stream); a newer line replaces one not yet written.
TEST(ConsoleWriter, AWaitingStatusLineGoesFirstAndStaysAStatusLine) {
  std::mutex m;
  std::condition_variable opened;
  bool open = false;
  std::vector<std::string> written;
  ConsoleWriter writer({[&](Stream s, std::string_view b) {
                          std::unique_lock<std::mutex> lock(m);
                          opened.wait(lock, [&] { return open; });
                          written.push_back((s == Stream::Out ? "out " : "err ") + std::string(b));
                        },
                        [&](std::string_view b) {
                          std::lock_guard<std::mutex> lock(m);
                          written.push_back("status " + std::string(b));
                        }});
  writer.write(Stream::Err, "blocked");
  writer.status("1");
  writer.status("2");
  writer.write(Stream::Out, "text");
  {
    std::lock_guard<std::mutex> lock(m);
    open = true;
  }
  opened.notify_all();
  writer.finish();
  EXPECT_EQ(written, (std::vector<std::string>{"err blocked", "status 2", "out text"}));
}

}  // namespace
}  // namespace vorta
