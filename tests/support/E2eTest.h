// The end-to-end fixture: a private PulseAudio server (scripts/pulse-private.sh,
// folder in VORTA_PULSE_DIR, else started here) whose null sink "vsink" is
// monitored by the default source, and a fresh folder per test, kept on failure.
#pragma once

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>
#include "Mp3Decode.h"
#include "Subprocess.h"

namespace vorta::test {
struct PulseServer {
  std::string dir;
  bool owner = false;  // this process started it: it goes when this process goes
  std::vector<std::string> env() const;  // "NAME=value" for its clients
  pid_t pid() const;                     // to freeze or kill it; 0 when none
  bool alive() const;
  bool run(const std::string& command);  // the script's start (again) or stop
};
// Environment for a wall clock (not the monotonic one) starting at "YYYY-MM-DD hh:mm:ss" UTC,
// in the time zone `zone`; the fault shim stays loaded.
std::vector<std::string> wallClockAt(const std::string& when, const std::string& zone = "UTC");
// Fails the test unless each channel holds the time code from `from` on, unbroken, up to
// `played` or, when 0, to the file's end (it played on through the stop).
void expectWholeCode(const DecodedMp3& decoded, double played, double from = 0);

class E2eTest : public ::testing::Test {
 protected:
  static constexpr double kBuffer = 0.5;  // seconds in one capture block
  void SetUp() override;  // thaws or restarts a server an earlier test froze or killed
  void TearDown() override;
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  static PulseServer& server();
  // In the test's folder; on pipes with no controlling terminal, on a pty with stderr apart; with
  // the fault shim (VORTA_FAULT=none: no fault, and a clock the system keeps in step).
  ProcessOptions vorta(const std::vector<std::string>& args, bool pty = false) const;
  // Through tests/e2e/FaultShim.c with the faults named (or none); it counts the frames read.
  ProcessOptions withShim(ProcessOptions options, const std::string& faults = "") const;
  // Fails the test unless the file holds every frame the input read (after withShim).
  void expectEveryFrameRead(const DecodedMp3& decoded) const;
  // Starts it and waits for a second of sound recorded.
  bool startRecording(Subprocess& process, const ProcessOptions& options);
  // Plays into the sink in the background; wait() ends with the sound.
  std::unique_ptr<Subprocess> play(const TestSignal& signal);
  // The nice value of the process's thread of that name (ps -L); 99 when there is none.
  static int threadNice(pid_t pid, const std::string& thread);
  // Fails the test unless every byte is in a whole frame and every frame decodes.
  DecodedMp3 decodeWhole(const std::string& file);
 private:
  std::string dir_;
};
}  // namespace vorta::test
