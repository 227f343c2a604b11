// What the end-to-end tests share: a fresh folder per test, the private sound
// server, starting vorta against it, playing test signals into it, and
// checking the MP3 files that come out.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Mp3Decode.h"
#include "PulseServer.h"
#include "Signals.h"
#include "Subprocess.h"

namespace vorta::test {

using Clock = std::chrono::steady_clock;

// Seconds from a to b.
double secondsBetween(Clock::time_point a, Clock::time_point b);
void sleepSeconds(double seconds);

// The result of walking an MP3 file header by header.
struct FrameWalk {
  bool whole = false;       // every byte belongs to a complete Layer III frame
  std::size_t frames = 0;
  std::size_t samplesPerFrame = 0;  // of the first frame: 1152 (MPEG-1) or 576
  std::string why;          // when not whole: what was found where
};
// Walks the frames from the first byte to the last: no tag, no junk, no
// truncated frame at the end.
FrameWalk walkFrames(const std::vector<std::uint8_t>& bytes);

// Loud stretches of a decoded channel: where |sample| reaches the level,
// merged across gaps shorter than minGapSeconds. In seconds from the start.
struct Stretch {
  double begin = 0;
  double end = 0;
  double length() const { return end - begin; }
};
std::vector<Stretch> loudStretches(const std::vector<std::int16_t>& mono, long rate, int level,
                                   double minGapSeconds);

// Sets NAME=value in the options' environment, replacing an entry of that
// name (the first entry of a name is the one the child gets).
void setEnv(ProcessOptions& options, const std::string& entry);

// The samples of one channel between two times (seconds).
std::vector<std::int16_t> slice(const std::vector<std::int16_t>& mono, long rate, double from,
                                double to);

class E2eTest : public ::testing::Test {
 protected:
  static constexpr const char* kStatus = "Record: ";
  // A capture buffer holds half a second of sound.
  static constexpr double kBuffer = 0.5;

  void SetUp() override;
  void TearDown() override;

  // A path inside the test's own folder.
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }
  PulseServer& server() { return *server_; }

  // vorta with the given arguments in the test's folder, its sound from the
  // test server. With pipes (pty false) it runs without a controlling
  // terminal, as under a service, so it never touches the terminal of
  // whoever runs the tests; with a pty its standard error has a pipe of its
  // own, so that the two streams can be told apart.
  ProcessOptions vorta(const std::vector<std::string>& args, bool pty = false) const;

  // Starts vorta and waits for its first status line. Returns the moment the
  // line was seen; fails the test (and returns a null time) when it did not
  // come within timeoutMs.
  Clock::time_point startRecording(Subprocess& process, const ProcessOptions& options,
                                   int timeoutMs = 15000);

  // Writes a signal into the folder and plays it into the server's sink.
  std::unique_ptr<Background> play(const TestSignal& signal, const std::string& name = "play.wav");
  // A steady tone long enough to outlast any recording of the test.
  std::unique_ptr<Background> playTone(double hz, double seconds = 120);

  // Decodes a file and checks that it is a whole, clean MP3 stream; the
  // test fails when it is not.
  DecodedMp3 decodeWhole(const std::string& file);

 private:
  PulseServer* server_ = nullptr;
  std::string dir_;
};

}  // namespace vorta::test
