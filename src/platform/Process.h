// The process: its standard descriptors, its signals and its end.
//
// Start-up, on the main thread before any other thread exists:
//   openMissingStandardDescriptors, then installTerminalSafeSignals, and
//   installStopSignals once the recording is about to start.
// exitNow and stopSignalPending may be called from any thread.
//
// Signals, from installTerminalSafeSignals on:
//   - SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT and std::terminate
//     put the terminal back and then take their default action (core dump);
//   - SIGINT, SIGTERM and SIGHUP put the terminal back and end the process
//     as they normally would (while the help or a prompt is on screen);
//   - SIGTSTP (Ctrl+Z) puts the terminal back before the process stops;
//     SIGCONT takes the keyboard mode again when the process is the
//     terminal's foreground job;
//   - SIGPIPE and SIGTTOU are ignored: a closed reader is an error of the
//     write, and a background job never stops for touching the terminal.
// From installStopSignals on, SIGINT, SIGTERM and SIGHUP only count: the
// first asks for the end of the recording (stopSignalPending), the second
// sets the flag given to installStopSignals, which makes the draining end at
// once. A stop signal ignored when the program started (nohup, a background
// job of a script) stays ignored throughout.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/Result.h"

namespace vorta {

// Flushes standard output and error, restores the terminal and ends the
// process at once with the code, without running static destructors (other
// threads may still be running).
[[noreturn]] void exitNow(int code);

// Descriptors 0, 1 and 2 that are closed are opened on /dev/null, so that no
// file opened later takes their number and receives the program's texts.
void openMissingStandardDescriptors();

// The command line's words, the program's path first, in UTF-8: on Linux
// argv as it is; on Windows the system's UTF-16 command line converted, as
// argv there is in the ANSI code page, which cannot hold every file name.
std::vector<std::string> commandLineWords(int argc, char** argv);

// This process's id, as ps and the task manager show it.
long currentProcessId();

void installTerminalSafeSignals();
// endAtOnce (may be null) must live until the process ends; the signal
// handler stores true into it with a lock-free store.
void installStopSignals(std::atomic<bool>* endAtOnce);
bool stopSignalPending();

// A command run through the system's shell (/bin/sh -c on Linux, cmd /c on
// Windows), for --on-event. Its standard input is the null device, its
// output and errors are vorta's own; its environment is vorta's with
// `environment` ("NAME=value") on top. The signals vorta ignores (SIGPIPE,
// SIGTTOU) have their default action again. On Linux it runs in a process
// group of its own, so that a Ctrl+C meant for vorta does not end it.
//
// Contract: started and polled by one thread (vorta-hooks). Move-only;
// destroying the object leaves a running command running.
class ShellCommand {
 public:
  static Result<ShellCommand> start(const std::string& command,
                                    const std::vector<std::string>& environment);
  ShellCommand(ShellCommand&& other) noexcept;
  ShellCommand& operator=(ShellCommand&& other) noexcept;
  ShellCommand(const ShellCommand&) = delete;
  ShellCommand& operator=(const ShellCommand&) = delete;
  ~ShellCommand();

  // Without waiting: nothing while it runs, then its exit code (128 + the
  // signal that ended it on Linux).
  std::optional<int> poll();

 private:
  explicit ShellCommand(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = -1;  // the process id, or the process's HANDLE
  std::optional<int> exitCode_;
};

// How many descriptors (Windows: handles) the process holds open; a
// resource that leaks shows as growth. Any thread.
std::size_t openHandleCount();

}  // namespace vorta
