// What the end-to-end tests share: the private sound server, a fresh folder
// per test, vorta started against that server, sound played into it, and the
// MP3 files that come out checked by walking and decoding them.
//
// ctest starts the server with scripts/pulse-private.sh before the e2e tests
// (folder in VORTA_PULSE_DIR) and stops it after them; run by hand, the test
// program starts one of its own. Its only device is the null sink "vsink",
// whose monitor is the default source: what a test plays is what vorta
// records through ALSA's "default" device.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Mp3Decode.h"
#include "Subprocess.h"

namespace vorta::test {

class PulseServer {
 public:
  explicit PulseServer(std::string dir) : dir_(std::move(dir)) {}
  // The server in VORTA_PULSE_DIR, or one started on first use and stopped
  // at exit; null when none could be started.
  static PulseServer* forTests();
  const std::string& dir() const { return dir_; }
  std::vector<std::string> env() const;  // "NAME=value" entries for its clients
  pid_t pid() const;                     // from its pid file; 0 when there is none
  bool alive(int timeoutMs = 5000) const;
  bool restart();  // the start script again: same folder, same socket
  bool stop();

 private:
  std::string dir_;
};

// Environment entries that set the wall clock (not the monotonic one) to
// "YYYY-MM-DD hh:mm:ss" UTC at the start, running on from there.
std::vector<std::string> wallClockAt(const std::string& when);

class E2eTest : public ::testing::Test {
 protected:
  static constexpr double kBuffer = 0.5;  // seconds in one capture block

  // Restarts a server that an earlier test killed or froze; keeps the folder
  // of a failed test and prints its path.
  void SetUp() override;
  void TearDown() override;

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  PulseServer& server() { return *server_; }

  // vorta in the test's folder, recording from the test server. With pipes
  // it has no controlling terminal, as under a service; on a pty its
  // standard error still has a pipe of its own (errors()).
  ProcessOptions vorta(const std::vector<std::string>& args, bool pty = false) const;
  // Starts it and waits until the status line shows a second of sound
  // recorded, so that the stream really runs. False (the test failed) when
  // it did not come.
  bool startRecording(Subprocess& process, const ProcessOptions& options);
  // Plays the signal into the server's sink in the background; the player
  // ends by itself when the signal is over (wait()) or is killed with it.
  std::unique_ptr<Subprocess> play(const TestSignal& signal);
  // Walks and decodes a file; the test fails unless every byte is in a whole
  // frame and every frame decodes.
  DecodedMp3 decodeWhole(const std::string& file);

 private:
  PulseServer* server_ = nullptr;
  std::string dir_;
};

}  // namespace vorta::test
