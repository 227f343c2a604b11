// Running a program from a test (normally the real vorta): with pipes, on a
// pseudo-terminal, or in the background with nothing to read (a player).
// Output is read whenever the test waits or asks for it, so a test that does
// not read for a while leaves the child's writes blocked, as a stalled reader
// would. Every wait has a time-out, and the destructor kills a child still
// running: a faulty program can fail a test but never hang or outlive it.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <cstddef>
#include <string>
#include <vector>

namespace vorta::test {

struct ProcessOptions {
  std::string program = VORTA_BINARY;  // looked up in PATH when it has no slash
  std::vector<std::string> args;
  std::vector<std::string> env;  // "NAME=value" entries added to (or replacing) the test's
  std::string cwd;               // empty: the test's own
  // A pseudo-terminal of rows x cols as stdin, stdout, stderr and controlling
  // terminal; stderrToPipe gives standard error a pipe of its own (errors()).
  bool pty = false;
  int rows = 25;
  int cols = 80;
  bool stderrToPipe = false;
  // With pipes: a session of its own without a controlling terminal, as a
  // service runs. Standard input is /dev/null either way.
  bool noControllingTerminal = false;
  // Standard output and error go to /dev/null: nothing to read.
  bool quiet = false;
};

class Subprocess {
 public:
  static constexpr int kTimedOut = -1;

  Subprocess() = default;
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // False (the reason in startError()) when it could not be started; a
  // program that cannot be executed exits with 127.
  bool start(const ProcessOptions& options);
  const std::string& startError() const { return startError_; }
  pid_t pid() const { return pid_; }

  bool sendInput(const std::string& bytes);  // typed on the terminal (pty only)
  bool signal(int signalNumber);
  void kill();  // SIGKILL and collect; nothing when it has ended
  bool running();

  // Until output() (or errors()) holds the needle at or after `from`; false
  // on time-out or when the stream ended without it.
  bool waitForOutput(const std::string& needle, int timeoutMs, std::size_t from = 0);
  bool waitForErrors(const std::string& needle, int timeoutMs, std::size_t from = 0);
  // The exit code, 128 + signal when a signal ended it, or kTimedOut after
  // killing a child still running at the time-out.
  int wait(int timeoutMs);

  // pty: everything written to the terminal; pipes: standard output. Both
  // read what has come so far first.
  const std::string& output();
  const std::string& errors();
  // The pseudo-terminal's current settings, read on the master side.
  bool terminalSettings(termios& out) const;

 private:
  void pump(int timeoutMs);
  bool waitFor(const std::string& (Subprocess::*text)(), const std::string& needle,
               int timeoutMs, std::size_t from);
  void reap(bool block);
  bool streamsOpen() const;

  pid_t pid_ = -1;
  bool reaped_ = false;
  int exitCode_ = kTimedOut;
  int outFd_ = -1;  // pty master or the stdout pipe
  int errFd_ = -1;
  bool ended_[2] = {false, false};
  bool pty_ = false;
  std::string out_, err_, startError_;
};

struct RunResult {
  int exitCode = Subprocess::kTimedOut;
  std::string out;
  std::string err;
};
// vorta with pipes and no controlling terminal, waited for at most timeoutMs.
RunResult runVorta(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                   int timeoutMs = 30000);

// The settings every new pseudo-terminal starts with, and whether two
// settings are the same in every mode, control character and speed.
termios freshTerminal();
bool sameTerminal(const termios& a, const termios& b);

}  // namespace vorta::test
