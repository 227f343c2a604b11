// The Windows build under wine (VORTA_WINDOWS_EXE, set by the windows stage of
// test.sh after scripts/build-windows.sh): the same bytes as the Linux build
// for the help and the run summaries, and a tone recorded from the test
// server through wine's PulseAudio driver and the wave-input service, ended
// by the stop-file or Ctrl+C. Skipped when VORTA_WINDOWS_EXE is not set.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "E2eTest.h"

namespace vorta::test {
namespace {

namespace fs = std::filesystem;

class Windows : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    const char* exe = std::getenv("VORTA_WINDOWS_EXE");
    if (!exe || !*exe) GTEST_SKIP() << "VORTA_WINDOWS_EXE is not set";
    exe_ = exe;
  }
  // Either build with the same arguments in the test's folder.
  ProcessOptions options(std::vector<std::string> args, bool windows, bool pty = false) const {
    ProcessOptions o = vorta(args, pty);
    if (windows) {
      args.insert(args.begin(), exe_);
      o.program = "wine";
      o.args = args;
      o.env.push_back("WINEDEBUG=-all");  // wine's own diagnostics would land on stderr
      o.env.push_back("LD_PRELOAD=");       // the fault shim is for the Linux build
    }
    return o;
  }
  RunResult run(const std::vector<std::string>& args, bool windows, const std::string& env = "") {
    std::ofstream(path("stop.now")) << "stop\n";  // a recording ends at once
    Subprocess p;
    ProcessOptions o = options(args, windows);
    if (!env.empty()) o.env.push_back(env);
    if (!p.start(o)) return {};
    return {p.wait(60000), p.output(), p.errors()};  // braces: evaluated in this order
  }
  std::string exe_;
};

struct Line {
  std::vector<std::string> args;
  bool records;  // the status line (CPU figure) makes stderr differ
};

TEST_F(Windows, PrintsTheSameBytesAsTheLinuxBuild) {
  const std::vector<Line> lines = {
      {{}, false},
      {{"-rus"}, false},
      {{"-b", "999", "x"}, false},
      {{"-rus", "--help"}, false},
      {{"-rus", "-d", "7"}, false},
      {{"-f", "1000", "-x", "stop.now", "rec"}, true},
      {{"-b", "64", "-d", "22", "-mm", "-ql", "-s", "300", "-t", "5", "-x", "stop.now", "r"}, true},
      {{"-rus", "-split3", "-x", "stop.now"}, true},
      {{"-x", "stop.now", "запись"}, true},  // a name beyond the ANSI code page
  };
  for (const Line& line : lines) {
    std::string shown;
    for (const std::string& a : line.args) shown += a + " ";
    const RunResult linux = run(line.args, false);
    const RunResult windows = run(line.args, true);
    EXPECT_EQ(windows.exitCode, linux.exitCode) << shown;
    EXPECT_EQ(windows.out, linux.out) << shown;
    EXPECT_EQ(line.records ? "" : windows.err, line.records ? "" : linux.err) << shown;
  }
}

// Windows takes '\' as a directory separator too: the full stop in the
// folder's name is no extension of the file's. A device number the system
// lacks is a device error.
TEST_F(Windows, BackslashEndsTheFolderPartAndAMissingDeviceIsAnError) {
  fs::create_directory(path("sub.d"));
  const RunResult r = run({"-x", "stop.now", "sub.d\\rec"}, true);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("* Resulting file: sub.d\\rec.mp3\n"), std::string::npos) << r.out;
  EXPECT_EQ(run({"x"}, true, "AUDIODEV=7").exitCode, 3) << "no wave-input device 7";
}

// Ended by the stop-file, by Ctrl+C (wine turns SIGINT into the console's
// Ctrl+C event) and by ESC on wine's console: the tone whole and at its
// pitch every time.
TEST_F(Windows, RecordsTheWholeSoundUntilTheStopFileCtrlCOrEsc) {
  for (const std::string name : {"stop-file", "ctrl-c", "esc"}) {
    Subprocess vorta;
    ProcessOptions o = options({"-x", "stop.now", name}, true, name == "esc");
    if (name == "esc") o.env.push_back("AUDIODEV=MONITOR of null");  // a name's start, any case
    ASSERT_TRUE(startRecording(vorta, o));
    ASSERT_EQ(play(TimeCode::signal(3))->wait(20000), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (name == "ctrl-c") ASSERT_TRUE(vorta.signal(SIGINT));
    else if (name == "esc") ASSERT_TRUE(vorta.sendInput("\x1b"));
    else std::ofstream(path("stop.now")) << "stop\n";
    ASSERT_EQ(vorta.wait(60000), 0) << name << vorta.errors();
    EXPECT_FALSE(fs::exists(path("stop.now")));

    SCOPED_TRACE(name);
    const DecodedMp3 decoded = decodeWhole(path(name + ".mp3"));
    EXPECT_EQ(decoded.rate, 44100);
    expectWholeCode(decoded, 3);
  }
}

}  // namespace
}  // namespace vorta::test
