#include "platform/Process.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "platform/Terminal.h"

namespace vorta {
namespace {

// Written by the signal handler, read by the capture loop. A lock-free atomic
// is async-signal-safe; relaxed is enough because nothing else is published
// with it.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void onStopSignal(int signal) {
  int expected = 0;
  gStopSignal.compare_exchange_strong(expected, signal, std::memory_order_relaxed);
}

void onFatalSignal(int signal) {
  restoreTerminal();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void handle(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, nullptr);
}

}  // namespace

void exitNow(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  restoreTerminal();
  _exit(code);
}

void installTerminalSafeSignals() {
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) handle(s, onFatalSignal);
  handle(SIGPIPE, SIG_IGN);
}

void installStopSignals() {
  for (int s : {SIGINT, SIGTERM, SIGHUP}) handle(s, onStopSignal);
  handle(SIGPIPE, SIG_IGN);
}

bool stopSignalPending() { return gStopSignal.load(std::memory_order_relaxed) != 0; }

int stopSignalNumber() { return gStopSignal.load(std::memory_order_relaxed); }

}  // namespace vorta
