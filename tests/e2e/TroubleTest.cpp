// Runs that go wrong: no device, a server that is dead, frozen or killed, an
// output that cannot be written, memory that cannot be had, the program
// itself stopped for a while. Each must end with the right code and message,
// leave a playable file where it recorded, and neither hang nor spin.
#include <signal.h>
#include <termios.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "E2eTest.h"

namespace vorta::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

const std::regex kStatusLines(R"(Record: [^\r]*\r)");
const std::regex kOverrun(R"(\r\n\* Sound input overrun: about (\d+) ms of sound lost\.\r\n)");
const std::string kNoDevice = "\r\n* Error: Soundrecord device not found.\r\n";

struct Trouble {
  const char* name;
  std::vector<std::string> args, env;
  bool pty;
  const char* limit;  // shell limits to run vorta under
  bool freezeServer;
  const char* folder;     // made before the run
  bool ctrlCAtTheHint;    // SIGINT once "Press ESC to exit..." shows
  int code;
  std::string err;        // standard error without status lines
  const char* out;        // in standard output
  const char* wholeFile;  // left as whole frames
};
void PrintTo(const Trouble& t, std::ostream* os) { *os << t.name; }

class Troubles : public E2eTest, public ::testing::WithParamInterface<Trouble> {};

TEST_P(Troubles, EndWithTheirCodeAndMessage) {
  const Trouble& t = GetParam();
  auto options = vorta(t.args, t.pty);
  options.env.insert(options.env.end(), t.env.begin(), t.env.end());
  if (*t.limit) {
    options.args.insert(options.args.begin(), {"-c", std::string(t.limit) + "; exec \"$0\" \"$@\"", VORTA_BINARY});
    options.program = "/bin/sh";
  }
  if (*t.folder) fs::create_directory(path(t.folder));
  ASSERT_TRUE(!t.freezeServer || ::kill(server().pid(), SIGSTOP) == 0);  // SetUp thaws it
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(options));
  if (t.ctrlCAtTheHint) {
    // The hint comes just before the device is opened: a second later the
    // open waits for the frozen server.
    ASSERT_TRUE(vorta.waitForOutput("Press ESC to exit...", 20000)) << vorta.output();
    std::this_thread::sleep_for(milliseconds(1000));
    ASSERT_TRUE(vorta.signal(SIGINT));
  } else if (t.pty && vorta.waitForOutput("Press ENTER to continue...", 30000)) {
    vorta.sendInput("\r");
  }
  EXPECT_EQ(vorta.wait(60000), t.code) << vorta.output();
  EXPECT_EQ(std::regex_replace(vorta.errors(), kStatusLines, ""), t.err);
  EXPECT_NE(vorta.output().find(t.out), std::string::npos) << vorta.output();
  termios after{};
  EXPECT_TRUE(!t.pty || (vorta.terminalSettings(after) && sameTerminal(after, freshTerminal())));
  EXPECT_TRUE(!t.ctrlCAtTheHint || vorta.output().find("Press ENTER") == std::string::npos);
  if (*t.wholeFile) decodeWhole(path(t.wholeFile));
}

const std::vector<std::string> kNoSuchDevice = {"AUDIODEV=vorta-no-such-pcm"};
const std::string kCreation = "\r\n* File creation error.\r\n* ";

INSTANTIATE_TEST_SUITE_P(
    E2e, Troubles,
    ::testing::Values(
        Trouble{"NoSuchDevice", {"rec"}, kNoSuchDevice, false, "", false, "", false, 3, kNoDevice,
                "* Resulting file: rec.mp3\n", ""},
        Trouble{"NoSuchDeviceAnsweredAtTheEnterPrompt", {"rec"}, kNoSuchDevice, true, "", false, "",
                false, 3, kNoDevice, "Press ENTER to continue...", ""},
        Trouble{"DeadServer", {"rec"}, {"AUDIODEV=pulse", "PULSE_SERVER=unix:/nonexistent"}, false,
                "", false, "", false, 3, "\r\nMMSystem error: Connection refused\r\n", "", ""},
        Trouble{"FrozenServer", {"rec"}, {}, false, "", true, "", false, 3,
                "\r\nMMSystem error: Connection timed out\r\n", "", ""},
        Trouble{"CtrlCWhileTheServerIsFrozen", {"rec"}, {}, true, "", true, "", true, 3,
                "\r\nMMSystem error: Operation canceled\r\n", "", ""},
        Trouble{"MissingFolder", {"missing/rec"}, {}, false, "", false, "", false, 2,
                kCreation + "No such file or directory\r\n\r\n", "* Resulting file: missing/rec.mp3\n", ""},
        Trouble{"OutputIsAFolder", {"rec"}, {}, false, "", false, "rec.mp3", false, 2,
                kCreation + "Is a directory\r\n\r\n", "", ""},
        Trouble{"NextHourIsAFolder", {"-split1", "rec"}, wallClockAt("2026-12-07 10:59:58"),
                false, "", false, "11.mp3", false, 2, kCreation + "Is a directory\r\n\r\n", "", "10.mp3"},
        // 40 blocks of 512 bytes: a 16 KB write fits, the next one does not.
        Trouble{"DiskFull", {"-d", "48", "-b", "32", "rec"}, {}, false, "trap '' XFSZ; ulimit -f 40",
                false, "", false, 2, "\r\n* Error writing to file.\r\n* File too large\r\n\r\n", "",
                "rec.mp3"},
        Trouble{"OutOfMemory", {"-f", "2000000", "rec"}, {}, true, "ulimit -v 400000", false, "",
                false, 3, "\r\n* Not enough memory (2048000000).\r\n\r\n", "* Buffer size: 2000000 kb",
                ""}),
    [](const auto& info) { return std::string(info.param.name); });

// The server killed while a time code plays: code 3, one message, and what
// came before the end in the file.
TEST_F(Troubles, ServerKilledMidRecording) {
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, E2eTest::vorta({"rec"})));
  ASSERT_EQ(play(TimeCode::signal(2))->wait(20000), 0);
  std::this_thread::sleep_for(milliseconds(200));
  ASSERT_EQ(::kill(server().pid(), SIGKILL), 0);
  ASSERT_EQ(vorta.wait(30000), 3) << vorta.errors();
  EXPECT_TRUE(std::regex_match(std::regex_replace(vorta.errors(), kStatusLines, ""),
                               std::regex("\r\n\\* Error: the sound input stopped working \\([^\r\n]+\\)\\.\r\n")))
      << vorta.errors();
  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  const CodeHeard heard = codeHeard(TimeCode::read(decoded.channel(0), decoded.rate));
  EXPECT_LE(heard.first, 0.15);
  EXPECT_GE(heard.last, 2 - 0.25);
  EXPECT_LE(heard.lost, 0.15);
}

// A frozen server sends nothing: vorta waits without burning the CPU, and
// Ctrl+C still ends it with a finished file.
TEST_F(Troubles, FrozenServerMidRecording) {
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, E2eTest::vorta({"rec"})));
  ASSERT_EQ(::kill(server().pid(), SIGSTOP), 0);
  const auto cpu = [&] {
    std::ifstream in("/proc/" + std::to_string(vorta.pid()) + "/stat");
    std::string field;
    double ticks = 0;
    for (int i = 1; in >> field && i <= 15; ++i) ticks += i >= 14 ? std::stod(field) : 0;
    return ticks / double(::sysconf(_SC_CLK_TCK));
  };
  const double before = cpu();
  std::this_thread::sleep_for(milliseconds(4000));
  EXPECT_LT(cpu() - before, 1.0) << "vorta used the CPU while no sound came";
  ASSERT_TRUE(vorta.signal(SIGINT));
  EXPECT_EQ(vorta.wait(30000), 0) << vorta.errors();
  decodeWhole(path("rec.mp3"));
}

// vorta stopped (SIGSTOP) while a time code plays: the server keeps a short
// stall for it, so nothing is lost; a longer one loses sound, and the
// overrun message says about how much.
class Stall : public E2eTest, public ::testing::WithParamInterface<int> {};

TEST_P(Stall, LosesNothingOrSaysHowMuch) {
  const int stall = GetParam();
  auto player = play(TimeCode::signal(stall + 12));
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, E2eTest::vorta({"-d", "48", "rec"})));
  std::this_thread::sleep_for(milliseconds(2000));
  ASSERT_TRUE(vorta.signal(SIGSTOP));
  std::this_thread::sleep_for(milliseconds(stall * 1000));
  ASSERT_TRUE(vorta.signal(SIGCONT));
  std::this_thread::sleep_for(milliseconds(4000));
  ASSERT_TRUE(vorta.signal(SIGINT));
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  const double lost = codeHeard(TimeCode::read(decoded.channel(0), decoded.rate)).lost;
  std::smatch m;
  const std::string err = vorta.errors();
  if (!std::regex_search(err, m, kOverrun)) {
    EXPECT_LE(lost, 0.3) << "sound lost without a word: " << err;
  } else {  // the time code turns every 8 s
    EXPECT_NEAR(std::remainder(std::stod(m[1]) / 1000.0 - lost, TimeCode::kTurn), 0, 0.75) << m[0];
  }
}

INSTANTIATE_TEST_SUITE_P(E2e, Stall, ::testing::Values(3));
INSTANTIATE_TEST_SUITE_P(Long, Stall, ::testing::Values(27));

// A minute at 320 kbit/s and high quality while spinning processes keep
// every core busy: no overflow, no overrun, no gap; with the encoder's own
// priority handling, with -a- and with -a.
class Load : public E2eTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(Load, BusyCoresLoseNothingInAMinute) {
  auto player = play(TimeCode::signal(75));
  std::vector<Subprocess> spinners(std::thread::hardware_concurrency() + 1);
  ProcessOptions spin;
  spin.program = "/bin/sh";
  spin.args = {"-c", "while :; do :; done"};
  spin.quiet = true;
  for (auto& s : spinners) ASSERT_TRUE(s.start(spin));
  std::vector<std::string> args = {"-d", "48", "-b", "320", "-qh", "-t", "1", "rec"};
  if (*GetParam()) args.insert(args.begin(), GetParam());
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, E2eTest::vorta(args)));
  ASSERT_EQ(vorta.wait(150000), 0) << vorta.errors();
  EXPECT_EQ(vorta.output().find("buffer overflow"), std::string::npos) << vorta.output();
  EXPECT_EQ(vorta.errors().find("overrun"), std::string::npos) << vorta.errors();
  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  EXPECT_GE(decoded.seconds(), 60.0);
  EXPECT_LE(codeHeard(TimeCode::read(decoded.channel(0), decoded.rate)).lost, 0.3);
}

INSTANTIATE_TEST_SUITE_P(Long, Load, ::testing::Values("", "-a-", "-a"));

}  // namespace
}  // namespace vorta::test
