#include "platform/Process.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "platform/Terminal.h"

// Ctrl+C, Ctrl+Break and closing the console window arrive as console
// control events, on a thread the system starts for the handler.
namespace vorta {
namespace {

// Written by the control handler's thread, read by the capture loop. Relaxed
// is enough because nothing else is published with it.
std::atomic<int> gStopEvent{0};
std::atomic<bool> gStopping{false};

// Numbers reported by stopSignalNumber, as the C runtime numbers them.
int signalNumber(DWORD event) { return event == CTRL_C_EVENT ? 2 /*SIGINT*/ : 21 /*SIGBREAK*/; }

BOOL WINAPI onControl(DWORD event) {
  if (!gStopping.load(std::memory_order_relaxed)) {
    // Help or a prompt on screen: put the console back, then let the
    // system's handler end the process.
    restoreTerminal();
    return FALSE;
  }
  int expected = 0;
  gStopEvent.compare_exchange_strong(expected, signalNumber(event),
                                     std::memory_order_relaxed);
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

void installStopSignals() {
  gStopping.store(true, std::memory_order_relaxed);
  SetConsoleCtrlHandler(onControl, TRUE);
}

bool stopSignalPending() { return gStopEvent.load(std::memory_order_relaxed) != 0; }

int stopSignalNumber() { return gStopEvent.load(std::memory_order_relaxed); }

}  // namespace vorta
