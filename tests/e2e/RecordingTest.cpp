// Recording from the test server and every way of ending a recording: ESC on
// the terminal, the stop-file, the time limit and the signals. Each must leave
// a complete MP3 file holding what was played.
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>

#include "E2eSupport.h"

namespace vorta::test {
namespace {

namespace fs = std::filesystem;

class RecordingTest : public E2eTest {
 protected:
  // The end of the tone marks a moment on the test's clock: the test kills
  // the player, waits, then stops the recording. The sound after the tone's
  // end must be the time from the kill to the stop, plus up to one buffer:
  // the program notices a stop at its next pass, which comes with the next
  // filled buffer, and drops the buffer that is only partly filled then.
  // Less only by what the server still held. A lost last buffer or an
  // undrained ring shows as too little; the start-up of the sound server,
  // which takes longer on a busy machine, does not matter here.
  Clock::time_point endTone(std::unique_ptr<Background>& player) {
    player->kill();
    return Clock::now();
  }

  void expectLengthOf(const DecodedMp3& decoded, double afterTone, double sinceStatus) {
    const auto loud = loudStretches(decoded.channel(0), decoded.rate, 8000, 0.05);
    ASSERT_EQ(loud.size(), 1u) << "the tone should be there, unbroken";
    const double after = decoded.seconds() - loud[0].end;
    std::cout << "after the tone: " << afterTone << " s, recorded " << after << " s; file "
              << decoded.seconds() << " s of " << sinceStatus << " s\n";
    EXPECT_GE(after, afterTone - 0.35) << "the end of the recording is missing";
    EXPECT_LE(after, afterTone + kBuffer + 0.1);
    // The whole file: no more than the time since the first status line (the
    // device had just started then), and no less than that less the server's
    // start-up.
    EXPECT_LE(decoded.seconds(), sinceStatus + kBuffer + 0.1);
    EXPECT_GE(decoded.seconds(), sinceStatus - kBuffer - 1.5);
  }

  void expectTone(const DecodedMp3& decoded, double hz) {
    for (int c = 0; c < decoded.channels; ++c) {
      const auto loud = loudStretches(decoded.channel(c), decoded.rate, 8000, 0.05);
      ASSERT_FALSE(loud.empty()) << "channel " << c;
      const auto part = slice(decoded.channel(c), decoded.rate, loud.back().begin + 0.1,
                              loud.back().end - 0.1);
      EXPECT_NEAR(dominantFrequency(part, decoded.rate), hz, hz * 0.01) << "channel " << c;
    }
  }
};

// The status line as the program rewrites it in place on standard error.
const std::regex kStatusLine(
    R"(Record: (\d+)\.(\d) kbytes \((\d+):(\d\d):(\d\d)\), buffer free: (\d+)\.(\d)%, CPU usage: (\d+)\.(\d)%    \r)");

TEST_F(RecordingTest, EscTypedOnTheTerminalFinishesTheFile) {
  auto player = playTone(1000);
  ASSERT_TRUE(player);
  Subprocess vorta;
  const auto options = E2eTest::vorta({"rec"}, /*pty=*/true);
  const auto started = startRecording(vorta, options);
  ASSERT_FALSE(HasFailure());
  sleepSeconds(1.5);
  // An arrow key starts with byte 27 too, but is not ESC; other keys are
  // read and ignored.
  vorta.sendInput("\x1b[A");
  vorta.sendInput("x");
  sleepSeconds(1.5);
  ASSERT_TRUE(vorta.running()) << "an arrow key or another key ended the recording";

  const auto toneEnd = endTone(player);
  sleepSeconds(1);
  const auto stopped = Clock::now();
  vorta.sendInput("\x1b");
  ASSERT_EQ(vorta.wait(20000), 0) << "stderr:\n" << vorta.errors();

  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.rate, 44100);
  EXPECT_EQ(decoded.channels, 2);
  expectLengthOf(decoded, secondsBetween(toneEnd, stopped), secondsBetween(started, stopped));
  expectTone(decoded, 1000);

  // Standard error carries the status lines and nothing else, each one
  // ending in a carriage return so that the next overwrites it.
  const std::string errors = vorta.errors();
  std::string rest = errors;
  int lines = 0;
  std::smatch last;
  for (std::smatch m; std::regex_search(rest, m, kStatusLine); rest = m.suffix().str()) {
    EXPECT_EQ(m.prefix().str(), "") << "stray bytes on stderr: " << errors;
    last = m;
    ++lines;
  }
  EXPECT_EQ(rest, "") << "stray bytes on stderr: " << errors;
  // About one status line a second while recording.
  EXPECT_GE(lines, 3) << errors;
  if (lines > 0) {
    // The last line, printed while the encoder drains, shows no more than
    // what ends up in the file.
    const double shown = std::stoi(last[3]) * 3600 + std::stoi(last[4]) * 60 + std::stoi(last[5]);
    EXPECT_LE(shown, decoded.seconds()) << last[0];
    const double kbytes = std::stoi(last[1]) + std::stoi(last[2]) / 10.0;
    EXPECT_LE(kbytes * 1024, double(fs::file_size(path("rec.mp3"))) + 103) << last[0];
  }

  // The banner and summary went to the terminal.
  const std::string out = vorta.output();
  EXPECT_NE(out.find("MP3-encoder of signal from soundcard. Version 1.0.7, 13.11.2000"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("* Resulting file: rec.mp3\r\n"), std::string::npos) << out;

  // The terminal is left as it was found: line editing and echo on.
  termios settings{};
  if (vorta.terminalSettings(settings)) {
    EXPECT_TRUE(settings.c_lflag & ICANON);
    EXPECT_TRUE(settings.c_lflag & ECHO);
  }
}

TEST_F(RecordingTest, StopFileEndsTheRecordingAndIsDeleted) {
  auto player = playTone(1000);
  ASSERT_TRUE(player);
  Subprocess vorta;
  const auto started = startRecording(vorta, E2eTest::vorta({"-x", "stop.now", "rec"}));
  ASSERT_FALSE(HasFailure());
  sleepSeconds(2.5);
  const auto toneEnd = endTone(player);
  sleepSeconds(1);
  const auto stopped = Clock::now();
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(20000), 0) << "stderr:\n" << vorta.errors();

  EXPECT_FALSE(fs::exists(path("stop.now")));
  EXPECT_NE(vorta.output().find("* Exit on semaphore file: stop.now\n"), std::string::npos)
      << vorta.output();
  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  ASSERT_TRUE(decoded.ok);
  expectLengthOf(decoded, secondsBetween(toneEnd, stopped), secondsBetween(started, stopped));
  expectTone(decoded, 1000);
}

TEST_F(RecordingTest, StopFileThatIsADirectoryEndsTheRecordingAndStays) {
  Subprocess vorta;
  startRecording(vorta, E2eTest::vorta({"-x", "stop.dir", "rec"}));
  ASSERT_FALSE(HasFailure());
  sleepSeconds(1);
  fs::create_directory(path("stop.dir"));
  ASSERT_EQ(vorta.wait(20000), 0) << "stderr:\n" << vorta.errors();
  EXPECT_TRUE(fs::is_directory(path("stop.dir")));
  decodeWhole(path("rec.mp3"));
}

TEST_F(RecordingTest, TimeLimitOfOneMinuteEndsTheRecordingByItself) {
  auto player = playTone(1000, 90);
  ASSERT_TRUE(player);
  Subprocess vorta;
  startRecording(vorta, E2eTest::vorta({"-t", "1", "rec"}));
  ASSERT_FALSE(HasFailure());
  ASSERT_EQ(vorta.wait(120000), 0) << "stderr:\n" << vorta.errors();

  EXPECT_NE(vorta.output().find("* Time limit: 0 h 01 min\n"), std::string::npos)
      << vorta.output();
  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  ASSERT_TRUE(decoded.ok);
  // The encoder stops at the minute of sound handed to it; the stream adds
  // its delay and the padding of the last frame.
  EXPECT_GE(decoded.seconds(), 60.0);
  EXPECT_LE(decoded.seconds(), 61.0);
  expectTone(decoded, 1000);
}

class StopSignalTest : public RecordingTest, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignalTest, SignalFinishesTheFileLikeEsc) {
  auto player = playTone(1000);
  ASSERT_TRUE(player);
  Subprocess vorta;
  const auto started = startRecording(vorta, E2eTest::vorta({"rec"}));
  ASSERT_FALSE(HasFailure());
  sleepSeconds(2.5);
  const auto toneEnd = endTone(player);
  sleepSeconds(1);
  const auto stopped = Clock::now();
  ASSERT_TRUE(vorta.signal(GetParam()));
  ASSERT_EQ(vorta.wait(20000), 0) << "stderr:\n" << vorta.errors();

  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  ASSERT_TRUE(decoded.ok);
  expectLengthOf(decoded, secondsBetween(toneEnd, stopped), secondsBetween(started, stopped));
  expectTone(decoded, 1000);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

}  // namespace
}  // namespace vorta::test
