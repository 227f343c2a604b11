// A recorder left running: job control, nohup, closed descriptors, one journal, crashes.
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include "E2eTest.h"
#include "ExpectedTexts.h"

namespace vorta::test {
namespace {
class Console : public E2eTest {
 protected:
  // vorta as $0 of bash with job control on the terminal (its stderr too), or of sh on pipes.
  ProcessOptions shell(const std::string& script, bool jobs = true) {
    ProcessOptions o = vorta({}, /*pty=*/jobs);
    o.stderrToPipe = false;
    o.program = jobs ? "bash" : "sh";
    o.args = {"-c", (jobs ? "set -m; " : "") + script, VORTA_BINARY};
    return o;
  }
  void start(Subprocess& sh, const std::string& script) {  // until a second is recorded
    ASSERT_TRUE(sh.start(shell(script)) && sh.waitForOutput("(0:00:01)", 30000)) << sh.output();
  }
  bool fileReaches(const std::string& name, off_t bytes) {
    struct stat file {};
    for (int i = 0; i < 300; ++i, ::usleep(100000))
      if (::stat(path(name).c_str(), &file) == 0 && file.st_size >= bytes) return true;
    return false;
  }
};

// With tostop a background job that writes to the terminal is stopped, unless it ignores SIGTTOU.
TEST_F(Console, BackgroundJobNeverTouchesTheTerminalAndEndsOnSigterm) {
  Subprocess sh;
  ASSERT_NO_FATAL_FAILURE(start(sh, "stty tostop; \"$0\" rec & echo \"pid $!\"; wait $!; echo \"exit $?\""));
  termios during{}, fresh = freshTerminal();
  fresh.c_lflag |= TOSTOP;
  EXPECT_TRUE(sh.terminalSettings(during) && sameTerminal(during, fresh));
  ASSERT_EQ(::kill(std::stoi(sh.output().substr(sh.output().find("pid ") + 4)), SIGTERM), 0);
  EXPECT_TRUE(sh.waitForOutput("exit 0", 20000)) << sh.output();
}
// A job stopped while recording or at a prompt takes the keyboard back when
// it goes on, also as a pipeline's second process (not its group's leader).
TEST_F(Console, AfterCtrlZAndFgTheKeyboardModeIsSetAgain) {
  for (const auto& [command, ready, key, end] : {std::tuple{"true | \"$0\" rec", "(0:00:01)", "\x1b", "exit 0"},
                                                 {"\"$0\" -rus", "ENTER", "\r", "ENTER"}}) {  // the help's next page
    SCOPED_TRACE(command);  // `stty sane`: the shell takes the terminal back as it likes it
    Subprocess sh;
    ASSERT_TRUE(sh.start(shell(command + std::string("; stty sane; echo resumed; fg; echo \"exit $?\""))));
    ASSERT_TRUE(sh.waitForOutput(ready, 30000)) << sh.output();
    ASSERT_TRUE(sh.sendInput("\x1a"));
    ASSERT_TRUE(sh.waitForOutput("resumed", 20000)) << sh.output();
    termios t{};
    for (int i = 0; i < 100 && sh.terminalSettings(t) && (t.c_lflag & ICANON); ++i) ::usleep(100000);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    const std::size_t resumed = sh.output().size();
    ::usleep(500000);
    EXPECT_EQ(sh.output().find(ready, resumed), std::string::npos) << "it went on without the key";
    ASSERT_TRUE(sh.sendInput(key));
    EXPECT_TRUE(sh.waitForOutput(end, 20000, resumed)) << sh.output();
  }
}
TEST_F(Console, IgnoredHangupStaysIgnoredAndClosedDescriptorsAreDevNull) {
  Subprocess v;
  ASSERT_TRUE(v.start(shell("trap '' HUP; exec \"$0\" rec <&- >&- 2>&-", false)));
  ASSERT_TRUE(fileReaches("rec.mp3", 32768));  // two seconds at 128 kbit/s
  for (const char* fd : {"/0", "/1", "/2"}) {
    std::error_code error;
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(v.pid()) + "/fd" + fd, error),
              "/dev/null") << fd;
  }
  ASSERT_TRUE(v.signal(SIGHUP));
  EXPECT_TRUE(fileReaches("rec.mp3", 65536)) << "a hangup ended the recording";
  ASSERT_TRUE(v.signal(SIGTERM));
  EXPECT_EQ(v.wait(20000), 0);
  decodeWhole(path("rec.mp3"));
}
TEST_F(Console, OneJournalGetsBothStreamsInTheOrderWritten) {
  Subprocess v;
  ASSERT_TRUE(v.start(shell("exec \"$0\" rec extra 2>&1", false)));
  EXPECT_EQ(v.wait(20000), 3);
  EXPECT_EQ(v.output().rfind(kBanner + "* Invalid argument rec.\n\r\n* Execute vorta -rus", 0), 0u)
      << v.output();
}
TEST_F(Console, CrashesPutTheTerminalBackBeforeTheirDefaultAction) {
  for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT}) {
    SCOPED_TRACE(sigabbrev_np(signal));  // at the help's Enter prompt, in the keyboard mode
    Subprocess v;
    ASSERT_TRUE(v.start(shell("ulimit -c 0; exec \"$0\"")));
    ASSERT_TRUE(v.waitForOutput("Press ENTER to continue...", 20000)) << v.output();
    ASSERT_TRUE(v.signal(signal));
    EXPECT_EQ(v.wait(20000), 128 + signal);
    termios after{};
    EXPECT_TRUE(v.terminalSettings(after) && sameTerminal(after, freshTerminal()));
  }
}
// However a run ends, the last status line comes before the line feed that closes the run,
// so the shell's prompt never overwrites it: on the terminal, byte for byte.
TEST_F(Console, TheLastStatusLineComesBeforeTheClosingLineFeed) {
  const struct { const char* name; const char* limits; int signal; const char* until; int code; } rows[] = {
      {"ESC", "", 0, "(0:00:01)", 0}, {"stop-file", "", -1, "(0:00:01)", 0},
      {"SIGTERM", "", SIGTERM, "(0:00:01)", 0}, {"disk full", "trap '' XFSZ; ulimit -f 40; ", -1, "too large", 2}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    Subprocess v;
    ASSERT_TRUE(v.start(shell(std::string(r.limits) + "exec \"$0\" -x stop.now rec")) && v.waitForOutput(r.until, 30000));
    EXPECT_TRUE(r.signal > 0 ? v.signal(r.signal) : r.signal < 0 || v.sendInput("\x1b"));
    if (r.code == 0 && r.signal < 0) std::ofstream(path("stop.now")) << "stop\n";
    EXPECT_EQ(v.wait(30000), r.code);
    EXPECT_TRUE(std::regex_search(v.output(), std::regex("Record: [^\r\n]*    \r\r\n$")))
        << v.output().substr(v.output().size() - std::min<std::size_t>(v.output().size(), 200));
  }
}
}  // namespace
}  // namespace vorta::test
