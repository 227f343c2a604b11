// Recordings ended each way a user ends one, in each MPEG version: the time
// code played after the start must be in the file from its first tenth to
// its last, unbroken, and a longer old file of the same name leaves no tail.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "E2eTest.h"
#include "archive/TimeMap.h"

namespace vorta::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

struct Ending {
  const char* name;
  std::vector<std::string> args;  // the output name last
  bool pty;
  int signal;  // 0: ESC on the terminal, or else the stop-file
  int nice;    // the encoder thread's: a raised main thread starts it at its own level
  const char* formatLine;
  Mp3Frame frame;  // bitrate, rate, mode (3 mono), version (0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5)
  bool idleCreator = false;  // started at nice 19, which it leaves for nice 0
};
void PrintTo(const Ending& e, std::ostream* os) { *os << e.name; }

class Recording : public E2eTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(Recording, EndsWithTheWholeSoundInTheFormatAskedFor) {
  const Ending& e = GetParam();
  const std::string file = path(e.args.back() + ".mp3");
  std::ofstream(file) << std::string(3 << 20, 'U');
  Subprocess vorta;
  ProcessOptions options = withShim(E2eTest::vorta(e.args, e.pty));
  if (e.idleCreator) {
    options.args.insert(options.args.begin(), {"-n", "19", options.program});
    options.program = "nice";
  }
  ASSERT_TRUE(startRecording(vorta, options));
  // An arrow key starts with ESC too but is not ESC; other keys are ignored.
  ASSERT_TRUE(!e.pty || vorta.sendInput("\x1b[Ax"));
  // Stopped while the code plays: the file ends with the last frame read.
  auto player = play(TimeCode::signal(5));
  std::this_thread::sleep_for(milliseconds(2000));
  // A creator at nice 19, the idle level, is left for the normal one. Only the
  // encoder may start raised; the main thread's raised level is never inherited.
  const bool root = ::geteuid() == 0;
  const int own = ::getpriority(PRIO_PROCESS, 0) >= 19 ? 0 : ::getpriority(PRIO_PROCESS, 0);
  const int creator = e.idleCreator ? (root ? 0 : 19) : own;
  EXPECT_EQ(threadNice(vorta.pid(), "vorta-encoder"), creator + (root ? e.nice : 0));
  EXPECT_TRUE(!e.idleCreator || threadNice(vorta.pid(), "vorta-input") == creator);
  termios settings{};
  EXPECT_TRUE(!e.pty || (vorta.terminalSettings(settings) && !(settings.c_lflag & ICANON)));
  if (e.signal)
    ASSERT_TRUE(vorta.signal(e.signal));
  else if (e.pty)
    ASSERT_TRUE(vorta.sendInput("\x1b"));
  else
    std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();

  const std::regex status(
      R"(Record: \d+\.\d kbytes \(\d+:\d\d:\d\d\), buffer free: \d+\.\d%, CPU usage: \d+\.\d%    \r)");
  EXPECT_EQ(std::regex_replace(vorta.errors(), status, ""), "") << "only status lines";
  EXPECT_NE(vorta.output().find(e.formatLine), std::string::npos) << vorta.output();
  EXPECT_FALSE(fs::exists(path("stop.now")));
  EXPECT_TRUE(!e.pty ||
              (vorta.terminalSettings(settings) && sameTerminal(settings, freshTerminal())));
  const DecodedMp3 decoded = decodeWhole(file);
  const Mp3Frame& w = e.frame;
  EXPECT_EQ(decoded.channels, w.mode == 3 ? 1 : 2);
  for (const Mp3Frame& f : decoded.frames) {
    ASSERT_TRUE(f.bitrate == w.bitrate && f.rate == w.rate && f.mode == w.mode &&
                f.version == w.version && f.original && !f.crc && f.emphasis == 0)
        << f.bitrate << " kbit/s, " << f.rate << " Hz, mode " << f.mode << ", version "
        << f.version;
  }
  expectWholeCode(decoded, 0);
  expectEveryFrameRead(decoded);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(E2e, Recording, ::testing::Values(
  Ending{"EscOnTheTerminal", {"rec"}, true, 0, 0,
         "* File format: MPEG1 Layer3, 128 kbit/s, 44 kHz, j-stereo\r\n", {128, 44100, 1, 0}},
  Ending{"StopFile", {"-d", "8", "-x", "stop.now", "-a", "rec"}, false, 0, -5,
         "* File format: MPEG2.5 Layer3, 32 kbit/s, 8 kHz, j-stereo\n", {32, 8000, 1, 2}, true},
  Ending{"CtrlCOnTheTerminal", {"-d", "22", "-ms", "rec"}, true, SIGINT, 0,
         "* File format: MPEG2 Layer3, 80 kbit/s, 22 kHz, stereo\r\n", {80, 22050, 0, 1}},
  Ending{"SigtermToAService", {"-d", "48", "-b", "192", "\xff\xfe-rec"}, false, SIGTERM, 0,
         "* File format: MPEG1 Layer3, 192 kbit/s, 48 kHz, stereo\n", {192, 48000, 0, 0}},
  Ending{"SighupToAService", {"-d", "22", "-mm", "-b", "48", "-a", "-a-", "rec"}, false, SIGHUP, 0,
         "* File format: MPEG2 Layer3, 48 kbit/s, 22 kHz, mono\n", {48, 22050, 3, 1}}),
  [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A second of the time code, 6 s of silence, a second more: with -s the
// pause shrinks to 2 s (plus up to a block). (Without -s nothing is cut: the
// dead air test's file holds every frame read.)
TEST_F(Recording, LongSilenceIsCutToTwoSeconds) {
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, E2eTest::vorta({"-s", "50", "rec"})));
  ASSERT_EQ(play(TestSignal(48000, 2).timeCode(0, 1).silence(6).timeCode(7, 1))->wait(30000), 0);
  std::this_thread::sleep_for(milliseconds(200));
  ASSERT_TRUE(vorta.signal(SIGINT));
  ASSERT_EQ(vorta.wait(30000), 0);
  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  const CodeHeard heard = codeHeard(TimeCode::read(decoded.channel(0), decoded.rate));
  EXPECT_GE(heard.last, 8 - 0.25);
  EXPECT_NEAR(heard.lost, 4 - kBuffer / 2, kBuffer / 2 + 0.15);
}

// Under a faked clock and time zone, across the autumn change of daylight saving time (Berlin,
// 03:00 CEST is 02:00 CET) and across an hour in UTC: the files named by the pattern, each whole,
// which joined hold the time code unbroken. %z tells the two 02 hours apart; without it the hour
// goes on in its file, nothing replaced. --utc names by UTC whatever the zone,
// from the first file on: no folder of the local date, already the next day.
// The hour ends 4 s after the start (see SplitAtTheHourAndAppendAfterARestartWithinIt).
struct Across {
  const char* name;
  std::vector<std::string> args;
  const char *start, *zone;
  std::vector<std::string> files;  // in recording order
  const char* unmade = "";  // a folder the run must not make
};
void PrintTo(const Across& a, std::ostream* os) { *os << a.name; }
class Split : public E2eTest, public ::testing::WithParamInterface<Across> {};

TEST_P(Split, NewFileWhenTheNameChanges) {
  const Across& a = GetParam();
  auto options = vorta(a.args);
  for (const auto& entry : wallClockAt(a.start, a.zone)) options.env.push_back(entry);
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, options));
  ASSERT_EQ(play(TimeCode::signal(3))->wait(20000), 0);
  std::this_thread::sleep_for(milliseconds(200));
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  const bool utc = a.args.front() == "--utc";
  EXPECT_EQ(vorta.output().find("* File names and hours in UTC\n") != std::string::npos, utc) << vorta.output();
  EXPECT_EQ(std::count_if(fs::recursive_directory_iterator(path("")), {},
                          [](const auto& f) { return f.path().extension() == ".mp3"; }),
            a.files.size());
  EXPECT_TRUE(!*a.unmade || !fs::exists(path(a.unmade))) << a.unmade;
  std::vector<std::uint8_t> joined;
  for (const std::string& name : a.files) {
    decodeWhole(path(name));
    const auto bytes = readFileBytes(path(name));
    joined.insert(joined.end(), bytes.begin(), bytes.end());
  }
  expectWholeCode(decodeMp3Bytes(joined), 3);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(E2e, Split, ::testing::Values(
  Across{"AutumnWithOffset", {"--name", "%H%z.mp3", "-x", "stop.now", "r"}, "2026-10-25 00:59:56", "Europe/Berlin",
         {"02+0200.mp3", "02+0100.mp3"}},
  Across{"AutumnWithoutOffset", {"--name", "%H.mp3", "-x", "stop.now", "r"}, "2026-10-25 00:59:56", "Europe/Berlin", {"02.mp3"}},
  Across{"UtcInKolkata", {"--utc", "--name=%F/%H%z.mp3", "-x", "stop.now", "r"}, "2026-12-07 19:59:56", "Asia/Kolkata",
         {"2026-12-07/19+0000.mp3", "2026-12-07/20+0000.mp3"}, "2026-12-08"}),
  [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Across an hour: two files named by the pattern, each whole. A service
// restarted within the hour appends to the hour's file, so the two joined
// hold both runs' code unbroken; a file of the hour's name from the same hour
// of an earlier day, month or year is replaced. Each file's time map
// (--time-map) starts with it, gets an append line at the first frame the
// restart added and is replaced with its file. At 32 kHz (MPEG-1, frames of
// 1152 samples). (libfaketime leaves the files' own times real, so the test
// sets them.) The first hour ends 4 s after the start: a sound server just
// started can take 2 s to give its first sound, and a file is made only
// once sound reaches it.
TEST_F(Recording, SplitAtTheHourAndAppendAfterARestartWithinIt) {
  const auto run = [&](const char* split, const char* clock, double from, double seconds) {
    auto options = vorta({split, "-d", "32", "--time-map", "-x", "stop.now", "r"});
    for (const auto& entry : wallClockAt(clock)) options.env.push_back(entry);
    Subprocess vorta;
    ASSERT_TRUE(startRecording(vorta, options));
    ASSERT_EQ(play(TestSignal(48000, 2).timeCode(from, seconds))->wait(20000), 0);
    std::this_thread::sleep_for(milliseconds(200));
    std::ofstream(path("stop.now")) << "stop\n";
    ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
    EXPECT_NE(vorta.output().find("* Split mode (files duration of 1 hour)\n"), std::string::npos);
  };
  const auto touch = [&](const std::string& name, const std::string& when) {
    ASSERT_EQ(std::system(("touch -d '" + when + " UTC' '" + path(name) + "'").c_str()), 0);
  };
  ASSERT_NO_FATAL_FAILURE(run("-split3", "2026-12-07 10:59:56", 0, 3));
  touch("07 - 11.mp3", "2026-12-07 11:00:05");
  const std::string kept = std::to_string(fs::file_size(path("07 - 11.mp3")));
  ASSERT_NO_FATAL_FAILURE(run("-split3", "2026-12-07 11:00:10", 3, 2));
  EXPECT_EQ(std::count_if(fs::directory_iterator(path("")), {},
                          [](const auto& f) { return f.path().extension() == ".mp3"; }), 2);
  std::vector<std::uint8_t> joined;
  for (const char* name : {"07 - 10.mp3", "07 - 11.mp3"}) {
    decodeWhole(path(name));
    const auto bytes = readFileBytes(path(name));
    joined.insert(joined.end(), bytes.begin(), bytes.end());
  }
  expectWholeCode(decodeMp3Bytes(joined), 5);
  // The header, each S line's reason, and whether at the header of the frame
  // of its number (an append's place too).
  const auto segments = [&](const std::string& name) {
    const auto text = readFileBytes(path(name + ".times")), bytes = readFileBytes(path(name));
    const std::optional<TimeMap> map = TimeMap::parse(std::string(text.begin(), text.end()));
    std::map<std::uint64_t, std::uint64_t> frameAt;
    for (FrameWalker walk(bytes, 0); walk.frame(); walk.next()) frameAt.emplace(walk.offset(), frameAt.size());
    std::string reasons = map ? headerText(map->header()) + ": " : "no map";
    for (const SegmentLine& s : map ? map->segments() : std::vector<SegmentLine>{})
      reasons += std::string(reasonName(s.reason)) +
                 (s.reason == SegmentReason::Append ? "@" + std::to_string(s.at.offset) : "") +
                 (frameAt.count(s.at.offset) && frameAt[s.at.offset] == s.at.frame ? " " : "? ");
    return reasons;
  };
  const std::string header = "vorta-times 1 rate=32000 channels=2 frame-samples=1152 kbps=128: ";
  EXPECT_EQ(segments("07 - 10.mp3"), header + "start ");
  EXPECT_EQ(segments("07 - 11.mp3"), header + "start append@" + kept + " ");
  fs::rename(path("07 - 11.mp3"), path("hour"));
  const auto hour = fs::file_size(path("hour"));
  for (const auto& [split, name, when] : {std::tuple{"-split1", "11.mp3", "2026-12-06 11:20:01"},
                                          {"-split3", "07 - 11.mp3", "2026-11-07 11:20:01"},
                                          {"-split3", "07 - 11.mp3", "2025-12-07 11:20:01"}}) {
    fs::copy_file(path("hour"), path(name), fs::copy_options::overwrite_existing);
    touch(name, when);
    ASSERT_NO_FATAL_FAILURE(run(split, "2026-12-07 11:20:00", 0, 0.1));
    EXPECT_LT(fs::file_size(path(name)), hour) << name << " of " << when << " was appended to";
    EXPECT_EQ(segments(name), header + "start ") << name;
  }
}

}  // namespace
}  // namespace vorta::test
