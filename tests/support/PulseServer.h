// The private PulseAudio server that the end-to-end tests record from.
//
// ctest starts it with scripts/pulse-private.sh before the e2e tests and stops
// it afterwards, and hands its folder to the tests in VORTA_PULSE_DIR. The
// server has one null sink, "vsink", whose monitor is the default source, so
// whatever a test plays into the sink is what vorta records through ALSA's
// "default" device (the pulse plugin). Run by hand without VORTA_PULSE_DIR,
// the tests start a server of their own for the run (see forTests()).
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace vorta::test {

// A helper program started in the background (paplay, pactl). The destructor
// kills it if it is still running, so a failing test leaves nothing behind.
class Background {
 public:
  static constexpr int kTimedOut = -1;

  Background() = default;
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // Starts argv[0] (looked up in PATH) with the test's environment plus the
  // "NAME=value" entries of env; standard input, output and error are
  // /dev/null. False when it could not be started.
  bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env);

  // Waits at most timeoutMs for the program to end. Returns its exit code,
  // 128 + signal when a signal ended it, or kTimedOut after killing it.
  int wait(int timeoutMs);
  // Kills it (SIGKILL) and collects it; nothing when it has already ended.
  void kill();
  bool running();
  pid_t pid() const { return pid_; }

 private:
  bool collect(bool block);

  pid_t pid_ = -1;
  bool reaped_ = false;
  int exitCode_ = kTimedOut;
};

class PulseServer {
 public:
  // A server whose files live in dir (started there by pulse-private.sh).
  explicit PulseServer(std::string dir);

  // The server the e2e tests use: the one in VORTA_PULSE_DIR, or, when the
  // variable is not set, one started on first use in a temporary folder and
  // stopped when the test program exits. Null when none could be started.
  static PulseServer* forTests();

  const std::string& dir() const { return dir_; }
  // The folder's files: the server's socket and its pid file.
  std::string socketPath() const;

  // "NAME=value" entries that point a client at this server (read from
  // dir/env, written by the start script): for ProcessOptions::env.
  std::vector<std::string> env() const;

  // True when the server answers (pactl info) within timeoutMs.
  bool alive(int timeoutMs = 5000) const;

  // Plays a WAV file into the null sink with paplay, in the background.
  // Null when paplay could not be started.
  std::unique_ptr<Background> play(const std::string& wavPath) const;

  // Kills the server at once (SIGKILL), as a crash would; its clients lose
  // their connection. For tests of what vorta does when the server goes away.
  bool kill();
  // Starts the server again in the same folder, with the same socket path,
  // and waits until it answers. True on success.
  bool restart();
  // Stops it (the script's stop), as the ctest fixture does at the end.
  bool stop();

 private:
  bool runScript(const std::string& command) const;

  std::string dir_;
};

}  // namespace vorta::test
