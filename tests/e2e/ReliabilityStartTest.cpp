// A sound server that is frozen (stopped, not dead) when the recording
// starts: opening the device through it would wait for ever. The program
// must give up with a clear message and code 3, and a Ctrl+C during that wait
// must end it too, with the terminal left as it was.
#include <signal.h>
#include <termios.h>

#include <cstring>
#include <fstream>

#include "ReliabilitySupport.h"

namespace vorta::test {
namespace {

// Not a speed requirement: a run that takes longer than this hangs.
constexpr int kNoHangMs = 30000;

// Stops the test server with SIGSTOP for the life of the guard; the
// destructor lets it run again, so a failing test never leaves it frozen.
class FrozenServer {
 public:
  explicit FrozenServer(const PulseServer& server) {
    std::ifstream in(server.dir() + "/pid");
    if (in >> pid_ && pid_ > 0) frozen_ = ::kill(pid_, SIGSTOP) == 0;
  }
  ~FrozenServer() {
    if (frozen_) ::kill(pid_, SIGCONT);
  }
  FrozenServer(const FrozenServer&) = delete;
  FrozenServer& operator=(const FrozenServer&) = delete;
  bool ok() const { return frozen_; }

 private:
  pid_t pid_ = 0;
  bool frozen_ = false;
};

class ReliabilityStart : public E2eTest {};

TEST_F(ReliabilityStart, FrozenServerAtTheStartIsATimeOutWithCode3) {
  ServerBack back(server());
  FrozenServer frozen(server());
  ASSERT_TRUE(frozen.ok());
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(E2eTest::vorta({"rec"}))) << vorta.startError();
  const int code = vorta.wait(kNoHangMs);
  ASSERT_NE(code, Subprocess::kTimedOut) << "vorta hung on a frozen server\n" << vorta.errors();
  EXPECT_EQ(code, 3);
  EXPECT_EQ(vorta.errors(), "\r\nMMSystem error: Connection timed out\r\n");
  EXPECT_EQ(readFileBytes(path("rec.mp3")).size(), 0u) << "nothing was recorded";
}

// Without a terminal (as under a service) the stop signal ends the wait and
// the program at once. Code 3, not 0: the device never opened and nothing was
// recorded, so the run failed; the message says it was cut short.
TEST_F(ReliabilityStart, StopSignalDuringTheWaitEndsItWithCode3) {
  ServerBack back(server());
  FrozenServer frozen(server());
  ASSERT_TRUE(frozen.ok());
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(E2eTest::vorta({"rec"}))) << vorta.startError();
  // Standard output is a pipe here, held back until the end, so nothing
  // shows when the wait has begun: the signal comes well inside it (the
  // start takes a fraction of a second, the wait 5 s).
  sleepSeconds(2.5);
  ASSERT_TRUE(vorta.signal(SIGTERM));
  const int code = vorta.wait(kNoHangMs);
  ASSERT_NE(code, Subprocess::kTimedOut) << vorta.errors();
  EXPECT_EQ(code, 3);
  EXPECT_EQ(vorta.errors(), "\r\nMMSystem error: Operation canceled\r\n");
}

// On a terminal a device error is followed by the Enter prompt; a second
// Ctrl+C answers it like Enter. The terminal is as it was either way.
TEST_F(ReliabilityStart, CtrlCDuringTheWaitOnATerminalLeavesTheTerminalAsItWas) {
  const termios before = freshTerminal();
  ASSERT_TRUE(before.c_lflag & ICANON);
  ServerBack back(server());
  FrozenServer frozen(server());
  ASSERT_TRUE(frozen.ok());
  auto options = E2eTest::vorta({"rec"}, /*pty=*/true);
  options.stderrToPipe = true;
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(options)) << vorta.startError();
  // The encoder's hint comes just before the device is opened.
  ASSERT_TRUE(vorta.waitForOutput("Press ESC to exit...", 10000)) << vorta.output();
  sleepSeconds(1);
  ASSERT_TRUE(vorta.signal(SIGINT));
  ASSERT_TRUE(vorta.waitForErrors("MMSystem error: Operation canceled", kNoHangMs))
      << vorta.errors();
  // Ctrl+C already said "out": no Enter prompt asks a second time.
  const int code = vorta.wait(kNoHangMs);
  ASSERT_NE(code, Subprocess::kTimedOut) << vorta.output();
  EXPECT_EQ(code, 3);
  EXPECT_EQ(vorta.output().find("Press ENTER to continue..."), std::string::npos)
      << vorta.output();
  termios after{};
  ASSERT_TRUE(vorta.terminalSettings(after));
  EXPECT_TRUE(sameTerminal(before, after));
}

}  // namespace
}  // namespace vorta::test
