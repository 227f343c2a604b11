// Runs that go wrong end with their code and message, leave a playable file
// where they recorded, and neither hang nor spin.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>
#include "E2eTest.h"

namespace vorta::test {
namespace {
using std::chrono::milliseconds;
const std::regex kStatusLines(R"(Record: [^\r]*\r)");
std::string tried(const std::string& device) {  // follows every device error
  return "* Device: " + device + " (vorta --list-devices shows the others)\r\n";
}
const std::string kCreation = "\r\n* File creation error.\r\n* ";

// Ctrl+C once the open waits; StatusBlocked: a second in, a folder blocks the
// status file's writes for a while, then a stop.
enum Server { Live, StopAfterASecond, StatusBlocked, Frozen, CtrlCWhileFrozen };
struct Trouble {
  const char* name;
  std::vector<std::string> args, env;
  bool pty;
  const char* limits;  // shell limits to run vorta under
  Server server;
  const char* folder;  // made before the run
  int code;
  std::string err;        // without status lines
  const char* out;        // a part of standard output
  const char* wholeFile;
  std::uintmax_t size = 0;  // of the whole file, when known
};
void PrintTo(const Trouble& t, std::ostream* os) { *os << t.name; }

class Troubles : public E2eTest, public ::testing::WithParamInterface<Trouble> {};

TEST_P(Troubles, EndWithTheirCodeAndMessage) {
  const Trouble& t = GetParam();
  auto o = vorta(t.args, t.pty);
  o.env.insert(o.env.end(), t.env.begin(), t.env.end());
  if (*t.limits) {
    o.args.insert(o.args.begin(),
                  {"-c", t.limits + std::string("; exec \"$0\" \"$@\""), o.program});
    o.program = "/bin/sh";
  }
  std::filesystem::create_directory(path(t.folder));
  // A run that ends before it records leaves an existing file as it was.
  const bool recordsNothing = t.code == 3 && !*t.wholeFile;
  if (recordsNothing) std::ofstream(path("rec.mp3")) << "kept";
  const bool status = t.args.front() == "--status";  // over a longer temporary that a crash left
  if (status) std::ofstream(path("st.json.tmp")) << std::string(4096, '#');
  ASSERT_TRUE(t.server < Frozen || ::kill(server().pid(), SIGSTOP) == 0);  // SetUp thaws it
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(o));
  if (t.server == CtrlCWhileFrozen) {
    ASSERT_TRUE(vorta.waitForOutput("Press ESC to exit...", 20000)) << vorta.output();
    std::this_thread::sleep_for(milliseconds(1000));
    ASSERT_TRUE(vorta.signal(SIGINT));
  } else if (t.server == StopAfterASecond || t.server == StatusBlocked) {
    ASSERT_TRUE(vorta.waitForErrors("(0:00:01)", 30000)) << vorta.errors();
    if (t.server == StatusBlocked) {  // its temporary is a file only while a write is on
      const std::string blocker = path("st.json.tmp");
      for (int i = 0; !std::filesystem::create_directory(blocker) && i < 100; ++i)
        std::this_thread::sleep_for(milliseconds(10));
      EXPECT_TRUE(vorta.waitForErrors("not written", 10000)) << vorta.errors();
      std::this_thread::sleep_for(milliseconds(1500));  // the next writes fail unsaid
      std::filesystem::remove(blocker);
    }
    ASSERT_TRUE(vorta.signal(SIGTERM));
  } else if (t.pty && vorta.waitForOutput("Press ENTER to continue...", 30000)) {
    vorta.sendInput("\r");
  }
  EXPECT_EQ(vorta.wait(60000), t.code) << vorta.output();
  // A Russian run's status lines are Russian too.
  const std::regex statusLines(t.args.front() == "-rus" ? "Записано: [^\r]*\r" : "Record: [^\r]*\r");
  EXPECT_EQ(std::regex_replace(vorta.errors(), statusLines, ""), t.err);
  EXPECT_NE(vorta.output().find(t.out), std::string::npos) << vorta.output();
  termios after{};
  EXPECT_TRUE(!t.pty || (vorta.terminalSettings(after) && sameTerminal(after, freshTerminal())));
  EXPECT_TRUE(t.server != CtrlCWhileFrozen || vorta.output().find("ENTER") == std::string::npos);
  if (*t.wholeFile) decodeWhole(path(t.wholeFile));
  EXPECT_TRUE(!t.size || std::filesystem::file_size(path(t.wholeFile)) == t.size);
  const auto json = readFileBytes(path("st.json"));  // the run's end and code, whole
  EXPECT_TRUE(!status || std::regex_match(std::string(json.begin(), json.end()), std::regex(
      R"(\{"state":")" + std::string(t.code ? "failed" : "ended") + R"(".*"exit_code":)" + std::to_string(t.code) + R"([,}].*\n)")))
      << std::string(json.begin(), json.end());
  std::string kept;
  EXPECT_TRUE(!recordsNothing || (std::ifstream(path("rec.mp3")) >> kept && kept == "kept"));
}
// clang-format off
INSTANTIATE_TEST_SUITE_P(E2e, Troubles, ::testing::Values(
  Trouble{"NoSuchDeviceOnATerminal", {"rec"}, {"AUDIODEV=vorta-no-such-pcm"}, true, "", Live, "", 3,
          "\r\n* Error: Soundrecord device not found.\r\n" + tried("vorta-no-such-pcm"), "Press ENTER to continue...", ""},
  Trouble{"DeviceOptionBeatsAudiodev", {"--status", "st.json", "--device=vorta-no-such-pcm", "rec"}, {"AUDIODEV=pulse"}, false, "", Live, "", 3,
          "\r\n* Error: Soundrecord device not found.\r\n" + tried("vorta-no-such-pcm"), "", ""},
  Trouble{"RawDeviceRefusesTheFormat", {"--device", "hw:0", "rec"}, {"XDG_CONFIG_HOME=" VORTA_SOURCE_DIR "/tests/e2e"}, false, "", Live, "", 3,
          "\r\nMMSystem error: Invalid argument\r\n" + tried("hw:0") + "* This device refuses the format; try --device plughw:0, which converts it.\r\n", "", ""},
  Trouble{"DeadServer", {"rec"}, {"AUDIODEV=pulse", "PULSE_SERVER=unix:/nonexistent"}, false, "", Live, "", 3,
          "\r\nMMSystem error: Connection refused\r\n" + tried("pulse"), "", ""},
  Trouble{"FrozenServer", {"rec"}, {}, false, "", Frozen, "", 3, "\r\nMMSystem error: Connection timed out\r\n" + tried("default"), "", ""},
  Trouble{"CtrlCWhileTheServerIsFrozen", {"rec"}, {}, true, "", CtrlCWhileFrozen, "", 3,
          "\r\nMMSystem error: Operation canceled\r\n" + tried("default"), "", ""},
  // Folders are made for --dir and --name only: a mistyped path is an error.
  Trouble{"MissingFolder", {"missing/rec"}, {}, false, "", Live, "", 2, kCreation + "No such file or directory\r\n\r\n", "", ""},
  Trouble{"OutputIsAFolder", {"rec"}, {}, false, "", Live, "rec.mp3", 2, kCreation + "Is a directory\r\n\r\n", "", ""},
  Trouble{"NextHourIsAFolder", {"-split1", "rec"}, wallClockAt("2026-12-07 10:59:56"), false, "", Live, "11.mp3", 2,
          kCreation + "Is a directory\r\n\r\n", "", "10.mp3"},
  // A time map that cannot be written is said once; the sound is recorded all the same.
  Trouble{"TimeMapIsAFolder", {"--time-map", "rec"}, {}, false, "", StopAfterASecond, "rec.mp3.times", 0,
          "\r\n* Time map rec.mp3.times not written: Is a directory\r\n", "", "rec.mp3"},
  // 40 blocks of 512 bytes: one 16 KB write fits, the next does not; the
  // file ends at its last whole frame of 96 bytes. Or three writes fit,
  // which end on a frame of 768 bytes: that frame stays.
  Trouble{"DiskFull", {"-d", "48", "-b", "32", "rec"}, {}, false, "trap '' XFSZ; ulimit -f 40", Live, "", 2,
          "\r\n* Error writing to file.\r\n* File too large\r\n\r\n", "", "rec.mp3", 16320},
  Trouble{"DiskFullInRussian", {"-rus", "-d", "48", "-b", "32", "rec"}, {}, false, "trap '' XFSZ; ulimit -f 40", Live, "", 2,
          "\r\n* Ошибка записи файла.\r\n* File too large\r\n\r\n", "", "rec.mp3", 16320},
  Trouble{"DiskFullOnAFrameEnd", {"-d", "48", "-b", "256", "rec"}, {}, false, "trap '' XFSZ; ulimit -f 96", Live, "", 2,
          "\r\n* Error writing to file.\r\n* File too large\r\n\r\n", "", "rec.mp3", 49152},
  // A status file that can no longer be written is said once; the recording goes on.
  Trouble{"StatusFileBlocked", {"--status", "st.json", "rec"}, {}, false, "", StatusBlocked, "", 0,
          "\r\n* Status file st.json not written: Is a directory\r\n", "", "rec.mp3"},
  // A finished file is synced; when that fails the run says so.
  Trouble{"SyncFails", {"--status", "st.json", "rec"}, {"LD_PRELOAD=" VORTA_FAULT_SHIM, "VORTA_FAULT=fsync"}, false, "", StopAfterASecond, "", 2,
          "\r\n* Error writing to file.\r\n* Input/output error\r\n\r\n", "", "rec.mp3"},
  Trouble{"OutOfMemory", {"-f", "2000000", "rec"}, {}, true, "ulimit -v 400000", Live, "", 3,
          "\r\n* Not enough memory (2048000000).\r\n\r\n", "* Buffer size: 2000000 kb", ""},
  Trouble{"OutOfMemoryInRussian", {"-rus", "-f", "2000000", "rec"}, {}, true, "ulimit -v 400000", Live, "", 3,
          "\r\n* Недостаточно оперативной памяти (2048000000).\r\n\r\n", "* Размер буфера: 2000000 кб", ""}),
  [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// The server killed or frozen, or vorta stopped for GetParam() seconds.
class Interrupted : public E2eTest, public ::testing::WithParamInterface<int> {
 protected:
  CodeHeard heard() {
    const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
    return codeHeard(TimeCode::read(decoded.channel(0), decoded.rate));
  }
};

// Killed while the code plays: the file ends with the last frame read.
TEST_F(Interrupted, ServerKilledMidRecording) {
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, withShim(E2eTest::vorta({"rec"}))));
  auto player = play(TimeCode::signal(5));
  std::this_thread::sleep_for(milliseconds(2000));
  ASSERT_EQ(::kill(server().pid(), SIGKILL), 0);
  ASSERT_EQ(vorta.wait(30000), 3) << vorta.errors();
  EXPECT_TRUE(std::regex_match(
      std::regex_replace(vorta.errors(), kStatusLines, ""),
      std::regex("\r\n\\* Error: the sound input stopped working \\(.+\\)\\.\r\n")))
      << vorta.errors();
  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  expectWholeCode(decoded, 0);
  expectEveryFrameRead(decoded);
}
// No sound comes: vorta waits without burning the CPU, the service
// manager's watchdog hears nothing (so it restarts a recorder that hears
// nothing), and after 10 s the input has stopped working: the run ends with
// code 3 and a finished file.
TEST_F(Interrupted, FrozenServerMidRecording) {
  const std::string name = "@vorta-e2e-" + std::to_string(::getpid());
  const int manager = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un at{AF_UNIX, {}};
  name.copy(at.sun_path + 1, name.size() - 1, 1);  // abstract: a zero byte, then the name
  ASSERT_EQ(::bind(manager, (sockaddr*)&at, socklen_t(offsetof(sockaddr_un, sun_path) + name.size())), 0);
  const auto sent = [&](std::string all = "") {  // the datagrams since the last call, but STATUS
    char b[256];
    for (ssize_t n; (n = ::recv(manager, b, sizeof b, MSG_DONTWAIT)) >= 0;)
      if (std::string_view(b, std::size_t(n)).find("STATUS=") != 0) all.append(b, std::size_t(n)) += ' ';
    return all;
  };
  auto options = E2eTest::vorta({"rec"});
  options.env.insert(options.env.end(), {"NOTIFY_SOCKET=" + name, "WATCHDOG_USEC=1000000"});
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, options));
  EXPECT_EQ(sent().find("READY=1 WATCHDOG=1 "), 0u);
  ASSERT_EQ(::kill(server().pid(), SIGSTOP), 0);
  const auto cpu = [&] {  // fields 14 and 15 of /proc/PID/stat: user and system ticks
    std::ifstream in("/proc/" + std::to_string(vorta.pid()) + "/stat");
    std::string field;
    double ticks = 0;
    for (int i = 1; in >> field && i <= 15; ++i) ticks += i >= 14 ? std::stod(field) : 0;
    return ticks / double(::sysconf(_SC_CLK_TCK));
  };
  std::this_thread::sleep_for(milliseconds(1000));  // what was on its way
  const double before = cpu();
  sent();
  std::this_thread::sleep_for(milliseconds(3000));
  EXPECT_LT(cpu() - before, 1.0) << "vorta used the CPU while no sound came";
  EXPECT_EQ(sent(), "");
  const int code = vorta.wait(30000);
  ::kill(server().pid(), SIGCONT);
  ASSERT_EQ(code, 3) << vorta.errors();
  EXPECT_EQ(std::regex_replace(vorta.errors(), kStatusLines, ""),
            "\r\n* Error: the sound input stopped working (Connection timed out).\r\n");
  EXPECT_EQ(sent(), "STOPPING=1 ");
  ::close(manager);
  decodeWhole(path("rec.mp3"));
}
// A short stall loses nothing; after a longer one the overrun message says how much.
TEST_P(Interrupted, StallLosesNothingOrSaysHowMuch) {
  auto player = play(TimeCode::signal(GetParam() + 12));
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, E2eTest::vorta({"-d", "48", "rec"})));
  std::this_thread::sleep_for(milliseconds(2000));
  ASSERT_TRUE(vorta.signal(SIGSTOP));
  std::this_thread::sleep_for(std::chrono::seconds(GetParam()));
  ASSERT_TRUE(vorta.signal(SIGCONT));
  std::this_thread::sleep_for(milliseconds(4000));
  ASSERT_TRUE(vorta.signal(SIGINT));
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  const double lost = heard().lost;
  std::smatch m;
  const std::string err = vorta.errors();
  if (!std::regex_search(
          err, m, std::regex(R"(\r\n\* Sound input overrun: about (\d+) ms of sound lost\.\r\n)")))
    EXPECT_LE(lost, 0.3) << "sound lost without a word: " << err;
  else  // the time code turns every 8 s
    EXPECT_NEAR(std::remainder(std::stod(m[1]) / 1000.0 - lost, TimeCode::kTurn), 0, 0.75) << m[0];
}
INSTANTIATE_TEST_SUITE_P(E2e, Interrupted, ::testing::Values(3));
INSTANTIATE_TEST_SUITE_P(Long, Interrupted, ::testing::Values(27));

// A minute at 320 kbit/s and high quality with every core busy: nothing lost.
class Load : public E2eTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(Load, BusyCoresLoseNothingInAMinute) {
  auto player = play(TimeCode::signal(75));
  std::vector<Subprocess> spinners(std::thread::hardware_concurrency() + 1);
  for (auto& s : spinners)
    ASSERT_TRUE(s.start({.program = "sh", .args = {"-c", "while :; do :; done"}}));
  std::vector<std::string> args = {"-d", "48", "-b", "320", "-qh", "-t", "1", "rec"};
  if (*GetParam()) args.insert(args.begin(), GetParam());
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, E2eTest::vorta(args)));
  ASSERT_EQ(vorta.wait(150000), 0) << vorta.errors();
  EXPECT_EQ(vorta.output().find("overflow"), std::string::npos) << vorta.output();
  EXPECT_EQ(vorta.errors().find("overrun"), std::string::npos) << vorta.errors();
  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  EXPECT_GE(decoded.seconds(), 60.0);
  EXPECT_LE(codeHeard(TimeCode::read(decoded.channel(0), decoded.rate)).lost, 0.3);
}
INSTANTIATE_TEST_SUITE_P(Long, Load, ::testing::Values("", "-a-", "-a"));
}  // namespace
}  // namespace vorta::test
