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
  // The decoded length against the time the recording ran, measured from the
  // first status line (the device has just started) to the moment the stop
  // was given. The program notices a stop at its next pass, which comes with
  // the next filled buffer, and drops the buffer that is only partly filled
  // then; the MP3 stream adds the encoder's delay and pads the last frame.
  // So the file is shorter or longer by at most about one buffer.
  void expectLengthOf(const DecodedMp3& decoded, double recorded) {
    std::cout << "recorded " << recorded << " s, decoded " << decoded.seconds() << " s\n";
    EXPECT_GE(decoded.seconds(), recorded - kBuffer - 0.15) << "recorded " << recorded << " s";
    EXPECT_LE(decoded.seconds(), recorded + kBuffer + 0.3) << "recorded " << recorded << " s";
  }

  void expectTone(const DecodedMp3& decoded, double hz) {
    ASSERT_GT(decoded.seconds(), 1.5);
    for (int c = 0; c < decoded.channels; ++c) {
      // Skip the first second: the player may start a little after vorta.
      const auto part = slice(decoded.channel(c), decoded.rate, 1.0, decoded.seconds() - 0.3);
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

  sleepSeconds(2);
  // An arrow key starts with byte 27 too, but is not ESC; other keys are
  // read and ignored.
  vorta.sendInput("\x1b[A");
  vorta.sendInput("x");
  sleepSeconds(2);
  ASSERT_TRUE(vorta.running()) << "an arrow key or another key ended the recording";

  const auto stopped = Clock::now();
  vorta.sendInput("\x1b");
  ASSERT_EQ(vorta.wait(20000), 0) << "stderr:\n" << vorta.errors();

  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.rate, 44100);
  EXPECT_EQ(decoded.channels, 2);
  expectLengthOf(decoded, secondsBetween(started, stopped));
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
    // The last line shows (close to) what is in the file.
    const double shown = std::stoi(last[3]) * 3600 + std::stoi(last[4]) * 60 + std::stoi(last[5]);
    EXPECT_NEAR(shown, decoded.seconds(), 1.5) << last[0];
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
  const auto stopped = Clock::now();
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(20000), 0) << "stderr:\n" << vorta.errors();

  EXPECT_FALSE(fs::exists(path("stop.now")));
  EXPECT_NE(vorta.output().find("* Exit on semaphore file: stop.now\n"), std::string::npos)
      << vorta.output();
  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  ASSERT_TRUE(decoded.ok);
  expectLengthOf(decoded, secondsBetween(started, stopped));
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
  const auto stopped = Clock::now();
  ASSERT_TRUE(vorta.signal(GetParam()));
  ASSERT_EQ(vorta.wait(20000), 0) << "stderr:\n" << vorta.errors();

  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  ASSERT_TRUE(decoded.ok);
  expectLengthOf(decoded, secondsBetween(started, stopped));
  expectTone(decoded, 1000);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

}  // namespace
}  // namespace vorta::test
