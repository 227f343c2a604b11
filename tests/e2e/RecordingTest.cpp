// Recordings through the test server, each ended one of the ways a user ends
// one, each checked by decoding: the time code played after the start must be
// in the file from its first tenth to its last, unbroken, whatever the format.
#include <signal.h>
#include <termios.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "E2eTest.h"

namespace vorta::test {
namespace {

namespace fs = std::filesystem;

const std::regex kStatusLines(
    R"(Record: \d+\.\d kbytes \(\d+:\d\d:\d\d\), buffer free: \d+\.\d%, CPU usage: \d+\.\d%    \r)");

struct Ending {
  const char* name;
  std::vector<std::string> args;  // the output name last
  bool pty;
  int signal;        // 0: keys or the stop-file
  const char* keys;  // typed on the terminal
  const char* formatLine;
  long rate;
  int channels, bitrate, version, mode;  // version 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5; mode 3 mono
};
void PrintTo(const Ending& e, std::ostream* os) { *os << e.name; }

class Recording : public E2eTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(Recording, EndsWithTheWholeSoundInAFileOfTheFormatAskedFor) {
  const Ending& e = GetParam();
  const std::string file = path(e.args.back() + ".mp3");
  // A longer file of the same name must leave no tail behind.
  std::ofstream(file) << std::string(3 << 20, 'U');
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, E2eTest::vorta(e.args, e.pty)));
  // An arrow key starts with ESC too but is not ESC; other keys are ignored.
  ASSERT_TRUE(!e.pty || vorta.sendInput("\x1b[Ax"));
  const double played = 2.0;
  ASSERT_EQ(play(TimeCode::signal(played))->wait(20000), 0);
  // The player ends once the sink has played the last sound; the sound then
  // reaches vorta within a few hundredths of a second.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  termios during{};
  EXPECT_TRUE(!e.pty || (vorta.terminalSettings(during) && !(during.c_lflag & ICANON)));
  if (e.signal) ASSERT_TRUE(vorta.signal(e.signal));
  else if (e.pty) ASSERT_TRUE(vorta.sendInput(e.keys));
  else std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();

  EXPECT_EQ(std::regex_replace(vorta.errors(), kStatusLines, ""), "") << "only status lines";
  EXPECT_NE(vorta.output().find(e.formatLine), std::string::npos) << vorta.output();
  EXPECT_FALSE(fs::exists(path("stop.now")));
  termios after{};
  EXPECT_TRUE(!e.pty || (vorta.terminalSettings(after) && sameTerminal(after, freshTerminal())));
  const DecodedMp3 decoded = decodeWhole(file);
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.rate, e.rate);
  EXPECT_EQ(decoded.channels, e.channels);
  for (const Mp3Frame& f : decoded.frames) {
    ASSERT_TRUE(f.bitrate == e.bitrate && f.rate == e.rate && f.version == e.version &&
                f.mode == e.mode && f.original && !f.crc && f.emphasis == 0)
        << f.bitrate << " kbit/s, " << f.rate << " Hz, version " << f.version << ", mode "
        << f.mode << ", original " << f.original << ", crc " << f.crc;
  }
  for (int c = 0; c < decoded.channels; ++c) {
    const CodeHeard heard = codeHeard(TimeCode::read(decoded.channel(c), decoded.rate));
    EXPECT_LE(heard.first, 0.15) << "channel " << c << ": the start is missing";
    EXPECT_GE(heard.last, played - 0.25) << "channel " << c << ": the end is missing";
    EXPECT_LE(heard.lost, 0.15) << "channel " << c << ": a stretch is missing";
  }
}

INSTANTIATE_TEST_SUITE_P(
    E2e, Recording,
    ::testing::Values(
        Ending{"EscOnTheTerminal", {"rec"}, true, 0, "\x1b",
               "* File format: MPEG1 Layer3, 128 kbit/s, 44 kHz, j-stereo\r\n", 44100, 2, 128, 0, 1},
        Ending{"StopFile", {"-d", "8", "-mm", "-b", "16", "-x", "stop.now", "rec"}, false, 0, "",
               "* File format: MPEG2.5 Layer3, 16 kbit/s, 8 kHz, mono\n", 8000, 1, 16, 2, 3},
        Ending{"CtrlCOnTheTerminal", {"-d", "22", "-ms", "rec"}, true, SIGINT, "",
               "* File format: MPEG2 Layer3, 80 kbit/s, 22 kHz, stereo\r\n", 22050, 2, 80, 1, 0},
        Ending{"SigtermToAService", {"-d", "48", "-b", "192", "\xff\xfe-rec"}, false, SIGTERM, "",
               "* File format: MPEG1 Layer3, 192 kbit/s, 48 kHz, stereo\n", 48000, 2, 192, 0, 0},
        Ending{"SighupToAService", {"-d", "22", "-mm", "-b", "48", "rec"}, false, SIGHUP, "",
               "* File format: MPEG2 Layer3, 48 kbit/s, 22 kHz, mono\n", 22050, 1, 48, 1, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// Tone 1 s, silence 6 s, tone 1 s: with -s the pause shrinks to 2 s (plus
// up to a block), without it stays whole.
TEST_F(Recording, LongSilenceIsCutToTwoSeconds) {
  for (const bool cut : {true, false}) {
    Subprocess vorta;
    ASSERT_TRUE(startRecording(vorta, E2eTest::vorta(cut ? std::vector<std::string>{"-s", "50", "rec"}
                                                         : std::vector<std::string>{"rec"})));
    ASSERT_EQ(play(TestSignal(48000, 2).tone(1000, 1).silence(6).tone(1000, 1))->wait(30000), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(vorta.signal(SIGINT));
    ASSERT_EQ(vorta.wait(30000), 0);
    const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
    ASSERT_TRUE(decoded.ok);
    const auto loud = loudStretches(decoded.channel(0), decoded.rate, 8000, 0.1);
    ASSERT_EQ(loud.size(), 2u);
    EXPECT_NEAR(loud[0].length() + loud[1].length(), 2.0, 0.1);
    EXPECT_GE(loud[1].begin - loud[0].end, cut ? 1.95 : 5.95);
    EXPECT_LE(loud[1].begin - loud[0].end, cut ? 2 + kBuffer + 0.05 : 6.05);
  }
}

// Across an hour: two files named by the pattern, each a whole stream that
// plays on its own, and the two joined hold the time code unbroken.
TEST_F(Recording, SplitStartsANewFileAtTheHour) {
  auto options = vorta({"-split3", "-x", "stop.now", "rec"});
  for (const auto& entry : wallClockAt("2026-12-07 10:59:58")) options.env.push_back(entry);
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, options));
  ASSERT_EQ(play(TimeCode::signal(3))->wait(20000), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  EXPECT_NE(vorta.output().find("* Split mode (files duration of 1 hour)\n"), std::string::npos);
  std::vector<std::uint8_t> joined;
  for (const char* name : {"07 - 10.mp3", "07 - 11.mp3"}) {
    decodeWhole(path(name));
    const auto bytes = readFileBytes(path(name));
    joined.insert(joined.end(), bytes.begin(), bytes.end());
  }
  EXPECT_EQ(std::count_if(fs::directory_iterator(path("")), {},
                          [](const auto& f) { return f.path().extension() == ".mp3"; }), 2);
  const DecodedMp3 whole = decodeMp3Bytes(joined);
  const CodeHeard heard = codeHeard(TimeCode::read(whole.channel(0), whole.rate));
  EXPECT_LE(heard.first, 0.15);
  EXPECT_GE(heard.last, 3 - 0.25);
  EXPECT_LE(heard.lost, 0.15) << "sound is missing at the cut";
}

}  // namespace
}  // namespace vorta::test
