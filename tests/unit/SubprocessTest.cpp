// The test helper that runs programs: it is the base of the binary and
// end-to-end tests, so its own faults would hide theirs.
#include <gtest/gtest.h>

#include <signal.h>

#include "Subprocess.h"

namespace vorta::test {
namespace {

ProcessOptions shell(const std::string& script) {
  ProcessOptions o;
  o.program = "/bin/sh";
  o.args = {"-c", script};
  return o;
}

TEST(Subprocess, PipesKeepStdoutAndStderrApartAndReportTheExitCode) {
  ProcessOptions o = shell("printf out; printf err >&2; printf \"$VORTA_X\"; exit 7");
  o.env = {"VORTA_X=|env"};
  Subprocess p;
  ASSERT_TRUE(p.start(o));
  EXPECT_EQ(p.wait(10000), 7);
  EXPECT_EQ(p.output(), "out|env");
  EXPECT_EQ(p.errors(), "err");
}

TEST(Subprocess, ALargeOutputNeverBlocksTheChild) {
  Subprocess p;
  ASSERT_TRUE(p.start(shell("head -c 1000000 /dev/zero; head -c 300000 /dev/zero >&2")));
  EXPECT_EQ(p.wait(20000), 0);
  EXPECT_EQ(p.output().size(), 1000000u);
  EXPECT_EQ(p.errors().size(), 300000u);
}

TEST(Subprocess, ATimeOutKillsTheChildAndIsReported) {
  Subprocess p;
  ASSERT_TRUE(p.start(shell("exec sleep 30")));
  EXPECT_EQ(p.wait(100), Subprocess::kTimedOut);
  EXPECT_TRUE(p.timedOut());
}

TEST(Subprocess, SignalsReachTheChild) {
  Subprocess p;
  ASSERT_TRUE(p.start(shell("echo ready; exec sleep 30")));
  ASSERT_TRUE(p.waitForOutput("ready", 10000));
  EXPECT_TRUE(p.signal(SIGTERM));
  EXPECT_EQ(p.wait(10000), 128 + SIGTERM);
}

TEST(Subprocess, APseudoTerminalIsTheControllingTerminalAndTakesInput) {
  ProcessOptions o = shell("stty size; read line </dev/tty; echo \"got $line\"");
  o.pty = true;
  o.rows = 30;
  o.cols = 90;
  Subprocess p;
  ASSERT_TRUE(p.start(o));
  ASSERT_TRUE(p.waitForOutput("30 90", 10000));
  EXPECT_TRUE(p.sendInput("abc\r"));
  EXPECT_EQ(p.wait(10000), 0);
  EXPECT_NE(p.output().find("got abc\r\n"), std::string::npos) << p.output();
}

TEST(Subprocess, WithoutAControllingTerminalDevTtyCannotBeOpened) {
  ProcessOptions o = shell("if (: </dev/tty) 2>/dev/null; then echo tty; else echo none; fi");
  o.noControllingTerminal = true;
  Subprocess p;
  ASSERT_TRUE(p.start(o));
  EXPECT_EQ(p.wait(10000), 0);
  EXPECT_EQ(p.output(), "none\n");
}

TEST(Subprocess, AProgramThatCannotRunExitsWith127) {
  ProcessOptions o;
  o.program = "/nonexistent/program";
  Subprocess p;
  ASSERT_TRUE(p.start(o));
  EXPECT_EQ(p.wait(10000), 127);
}

}  // namespace
}  // namespace vorta::test
