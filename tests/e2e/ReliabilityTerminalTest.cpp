// The terminal is left exactly as it was found, whatever ends the program:
// ESC, each stop signal, a device error answered at the Enter prompt, and an
// allocation that the system refuses.
#include <signal.h>
#include <termios.h>

#include <cstring>
#include <functional>

#include "ReliabilitySupport.h"

namespace vorta::test {
namespace {

class ReliabilityTerminal : public E2eTest {
 protected:
  void expectUnchanged(const Subprocess& vorta) {
    termios after{};
    ASSERT_TRUE(vorta.terminalSettings(after));
    EXPECT_TRUE(sameTerminal(before_, after)) << "before: " << describeTerminal(before_)
                                              << "\nafter:  " << describeTerminal(after);
  }

  void SetUp() override {
    E2eTest::SetUp();
    before_ = freshTerminal();
    ASSERT_TRUE(before_.c_lflag & ICANON);
    ASSERT_TRUE(before_.c_lflag & ECHO);
  }

  // Records on the terminal and ends the recording by `end`.
  void recordAndEnd(const std::function<void(Subprocess&)>& end) {
    Subprocess vorta;
    startRecording(vorta, E2eTest::vorta({"rec"}, /*pty=*/true));
    ASSERT_FALSE(HasFailure());
    sleepSeconds(1.5);
    termios during{};
    ASSERT_TRUE(vorta.terminalSettings(during));
    EXPECT_FALSE(during.c_lflag & ICANON) << "keys are read one at a time while recording";
    end(vorta);
    ASSERT_EQ(vorta.wait(20000), 0) << vorta.errors();
    expectUnchanged(vorta);
    decodeWhole(path("rec.mp3"));
  }

  termios before_{};
};

TEST_F(ReliabilityTerminal, EscLeavesTheTerminalAsItWas) {
  recordAndEnd([](Subprocess& vorta) { vorta.sendInput("\x1b"); });
}

TEST_F(ReliabilityTerminal, StopSignalsLeaveTheTerminalAsItWas) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sigabbrev_np(signal));
    recordAndEnd([signal](Subprocess& vorta) { vorta.signal(signal); });
    std::remove(path("rec.mp3").c_str());
  }
}

TEST_F(ReliabilityTerminal, DeviceErrorAnsweredAtTheEnterPromptLeavesTheTerminalAsItWas) {
  auto options = vorta({"rec"}, /*pty=*/true);
  // No sound server anywhere: none of the test server's variables.
  options.env = {"PULSE_SERVER=unix:" + path("no-server/native"),
                 "PULSE_RUNTIME_PATH=" + path("no-server"), "XDG_RUNTIME_DIR=" + path("no-server")};
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(options)) << vorta.startError();
  ASSERT_TRUE(vorta.waitForOutput("Press ENTER to continue...", 20000))
      << vorta.output() << "\nstderr:\n" << vorta.errors();
  EXPECT_TRUE(vorta.errors() == "\r\n* Error: Soundrecord device not found.\r\n" ||
              vorta.errors().rfind("\r\nMMSystem error: ", 0) == 0)
      << vorta.errors();
  termios prompting{};
  ASSERT_TRUE(vorta.terminalSettings(prompting));
  EXPECT_FALSE(prompting.c_lflag & ECHO) << "Enter is read without echo";
  vorta.sendInput("\r");
  ASSERT_EQ(vorta.wait(20000), 3) << vorta.output();
  expectUnchanged(vorta);
}

TEST_F(ReliabilityTerminal, OutOfMemoryLeavesTheTerminalAsItWas) {
  // 2000000 KB of working buffer under a 400 MB address-space limit.
  auto options = vorta({}, /*pty=*/true);
  options.program = "/bin/sh";
  options.args = {"-c", "ulimit -v 400000 && exec \"$0\" \"$@\"", VORTA_BINARY, "-f", "2000000",
                  "rec"};
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(options)) << vorta.startError();
  ASSERT_EQ(vorta.wait(20000), 3) << vorta.output() << "\nstderr:\n" << vorta.errors();
  EXPECT_EQ(vorta.errors(), "\r\n* Not enough memory (2048000000).\r\n\r\n");
  // The summary came first and names the buffer that could not be had.
  EXPECT_NE(vorta.output().find("* Buffer size: 2000000 kb"), std::string::npos)
      << vorta.output();
  expectUnchanged(vorta);
}

}  // namespace
}  // namespace vorta::test
