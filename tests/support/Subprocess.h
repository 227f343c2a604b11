// Running a program (normally the real vorta) from a test: with pipes, or on
// a pseudo-terminal of a chosen size.
//
// A background thread reads the child's output all the time, so the child
// never blocks on a full pipe. Every wait has a time-out; a child that
// outlives wait()'s time-out is killed and the time-out is reported, so a
// faulty program can fail a test but never hang it.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorta::test {

struct ProcessOptions {
  // The program to run; argv[0] is the program, args follow it.
  std::string program = VORTA_BINARY;
  std::vector<std::string> args;
  // "NAME=value" entries added to (or replacing in) the test's environment.
  std::vector<std::string> env;
  // Working directory of the child; empty: the test's own.
  std::string cwd;
  // Pseudo-terminal of rows x cols as stdin, stdout and stderr. The child is
  // the session leader, so /dev/tty is the pseudo-terminal.
  bool pty = false;
  int rows = 25;
  int cols = 80;
  // With pty: the terminal translates "\n" to "\r\n" as a real one does. Off
  // gives the program's bytes unchanged in output().
  bool translateNewlines = true;
  // With pty: stderr goes to its own pipe (errors()) instead of the terminal.
  bool stderrToPipe = false;
  // With pipes: a new session without a controlling terminal (as under cron
  // or a service) and stdin closed. Otherwise stdin is /dev/null.
  bool noControllingTerminal = false;
};

class Subprocess {
 public:
  static constexpr int kTimedOut = -1;

  Subprocess() = default;
  ~Subprocess();  // kills a child still running and collects it
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // Starts the child. False (with the reason in startError()) when it could
  // not be started; a program that cannot be executed exits with 127.
  bool start(const ProcessOptions& options);
  const std::string& startError() const { return startError_; }
  pid_t pid() const { return pid_; }

  // Writes bytes to the terminal as if typed (pty only).
  bool sendInput(const std::string& bytes);
  // Sends a signal to the child.
  bool signal(int signalNumber);

  // Waits until output() (or errors()) holds the needle at or after the
  // offset `from`. False on time-out or when the output ended without it.
  bool waitForOutput(const std::string& needle, int timeoutMs, std::size_t from = 0);
  bool waitForErrors(const std::string& needle, int timeoutMs, std::size_t from = 0);

  // Waits for the child to end and for its output to be read. Returns the
  // exit code, 128 + signal when a signal ended it, or kTimedOut after
  // killing a child that was still running at the time-out.
  int wait(int timeoutMs);
  bool timedOut() const { return timedOut_; }
  bool running() const { return pid_ > 0 && !reaped_; }

  // pty: everything written to the terminal; pipes: standard output.
  std::string output() const;
  // Standard error when it has its own pipe.
  std::string errors() const;

  // The current settings of the pseudo-terminal, read on the master side.
  bool terminalSettings(termios& out) const;

 private:
  void readerLoop();
  bool waitFor(const std::string& buffer, const std::string& needle, int timeoutMs,
               std::size_t from);
  void stopReader();

  pid_t pid_ = -1;
  bool reaped_ = false;
  bool timedOut_ = false;
  int exitCode_ = kTimedOut;
  int masterFd_ = -1;  // pty master, or the stdout pipe's read end
  int errFd_ = -1;     // stderr pipe's read end, or -1
  int wakeFd_[2] = {-1, -1};
  bool isPty_ = false;
  std::string startError_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string out_;
  std::string err_;
  bool outputEnded_ = false;
  std::thread reader_;
};

struct RunResult {
  int exitCode = Subprocess::kTimedOut;
  std::string out;
  std::string err;
};

// Runs vorta with pipes (stdin /dev/null), waits at most timeoutMs.
RunResult runVorta(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                   int timeoutMs = 30000);

}  // namespace vorta::test
