#include "platform/Process.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>

#include "platform/Terminal.h"
#include "platform/Wide_win32.h"

// Ctrl+C, Ctrl+Break and closing the console window arrive as console
// control events, on a thread the system starts for the handler.
namespace vorta {
namespace {

// Written by the control handler's thread, read by the capture loop. Relaxed
// is enough because nothing else is published with it.
std::atomic<int> gStopEvents{0};
std::atomic<bool> gStopping{false};
std::atomic<std::atomic<bool>*> gEndAtOnce{nullptr};

BOOL WINAPI onControl(DWORD event) {
  if (!gStopping.load(std::memory_order_relaxed)) {
    // Help or a prompt on screen: put the console back, then let the
    // system's handler end the process.
    restoreTerminal();
    return FALSE;
  }
  if (gStopEvents.fetch_add(1, std::memory_order_relaxed) > 0) {
    // A second Ctrl+C: the draining ends at once.
    std::atomic<bool>* endAtOnce = gEndAtOnce.load(std::memory_order_relaxed);
    if (endAtOnce) endAtOnce->store(true, std::memory_order_relaxed);
  }
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // The system ends the process as soon as this handler returns (or after
    // its grace period): hold it here while the recording is finished; the
    // program's own exit ends this thread too.
    for (;;) Sleep(1000);
  }
  return TRUE;
}

}  // namespace

void exitNow(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  restoreTerminal();
  ExitProcess(static_cast<UINT>(code));
}

// The first thing the program does: from here on standard output and error
// carry the program's bytes as they are (no LF -> CR LF translation), so
// every text is byte for byte the one the Linux build prints.
void installTerminalSafeSignals() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleCtrlHandler(onControl, TRUE);
}

// A console program always starts with its three standard handles; one
// that is missing stays missing and its writes fail harmlessly.
void openMissingStandardDescriptors() {}

void installStopSignals(std::atomic<bool>* endAtOnce) {
  gEndAtOnce.store(endAtOnce, std::memory_order_relaxed);
  gStopping.store(true, std::memory_order_relaxed);
  SetConsoleCtrlHandler(onControl, TRUE);
}

bool stopSignalPending() { return gStopEvents.load(std::memory_order_relaxed) != 0; }

std::vector<std::string> commandLineWords(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> words;
  for (int i = 0; i < count; ++i) words.push_back(fromWide(wide[i]));
  LocalFree(wide);
  return words;
}

}  // namespace vorta
