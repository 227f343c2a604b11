// A program (by default vorta) on pipes, on a pseudo-terminal, or quiet. Every
// wait has a time-out; a child still running when the object goes is killed.
#pragma once

#include <sys/types.h>
#include <termios.h>
#include <string>
#include <vector>

namespace vorta::test {
struct ProcessOptions {
  std::string program = VORTA_BINARY;  // looked up in PATH when it has no slash
  std::vector<std::string> args;
  std::vector<std::string> env;  // "NAME=value", over the test's; the last of a name counts
  std::string cwd;
  bool pty = false;  // a 25 x 80 pseudo-terminal as stdin, stdout, stderr and tty
  bool stderrToPipe = false;           // with pty: errors() reads standard error apart
  bool noControllingTerminal = false;  // with pipes: a session of its own, as a service
  bool quiet = false;                  // output to /dev/null; stdin is /dev/null without pty
};
class Subprocess {
 public:
  static constexpr int kTimedOut = -1;
  Subprocess() = default;
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  bool start(const ProcessOptions& options);  // a program that cannot run exits 127
  pid_t pid() const { return pid_; }
  bool sendInput(const std::string& bytes);  // typed on the terminal
  bool signal(int signalNumber);
  void kill();
  bool running();
  // Until output() or errors() holds the needle at or after `from`; false on time-out or end.
  bool waitForOutput(const std::string& needle, int timeoutMs, std::size_t from = 0) {
    return waitFor(0, needle, timeoutMs, from);
  }
  bool waitForErrors(const std::string& needle, int timeoutMs, std::size_t from = 0) {
    return waitFor(1, needle, timeoutMs, from);
  }
  // The exit code, 128 + signal, or kTimedOut after killing it.
  int wait(int timeoutMs);
  const std::string& output();  // pty: all the terminal showed; pipes: stdout
  const std::string& errors();
  bool terminalSettings(termios& out) const;
 private:
  void pump(int timeoutMs);
  bool waitFor(int stream, const std::string& needle, int timeoutMs, std::size_t from);
  void reap(bool block);

  pid_t pid_ = -1;
  bool reaped_ = false, pty_ = false;
  int exitCode_ = kTimedOut;
  int fds_[2] = {-1, -1};  // stdout (or the pty master) and stderr
  bool ended_[2] = {true, true};
  std::string texts_[2];
};
struct RunResult {
  int exitCode = Subprocess::kTimedOut;
  std::string out, err;
};
// The settings of a new pseudo-terminal; equal in every mode, character and speed.
termios freshTerminal();
bool sameTerminal(const termios& a, const termios& b);
}  // namespace vorta::test
