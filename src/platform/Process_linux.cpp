#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <initializer_list>

#include "platform/Syscall.h"
#include "platform/Terminal.h"

namespace vorta {
namespace {

// Written by the signal handler, read by any thread. Lock-free atomics are
// async-signal-safe; relaxed is enough for the count because nothing else is
// published with it. The flag pointer is set before the handler that reads it
// is installed (sigaction orders the two).
std::atomic<int> gStopSignals{0};
std::atomic<std::atomic<bool>*> gEndAtOnce{nullptr};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);

bool ignoredAtStart(int signal) {
  struct sigaction old {};
  return sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
}

void handle(int signal, void (*handler)(int), int flags = SA_RESTART) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  sigaction(signal, &action, nullptr);
}

// Puts the terminal back, then lets the signal do what it does by default.
// A fault raised by an instruction (SIGSEGV, SIGBUS, SIGFPE, SIGILL) comes
// again when the handler returns, now with the default action.
void onFatalSignal(int signal) {
  restoreTerminal();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void onTerminate() {
  restoreTerminal();
  std::abort();
}

void onStopSignal(int) {
  if (gStopSignals.fetch_add(1, std::memory_order_relaxed) == 0) return;
  std::atomic<bool>* endAtOnce = gEndAtOnce.load(std::memory_order_relaxed);
  if (endAtOnce) endAtOnce->store(true, std::memory_order_relaxed);
}

void onContinue(int) {
  const int saved = errno;
  resumeKeyboardMode();
  errno = saved;
}

// Ctrl+Z: the terminal goes back to the shell as it was, then the process
// stops as SIGTSTP's default would; SIGCONT takes the keyboard mode again.
void onTerminalStop(int) {
  const int saved = errno;
  suspendKeyboardMode();
  ::signal(SIGTSTP, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTSTP);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(SIGTSTP);  // stops here until SIGCONT
  handle(SIGTSTP, onTerminalStop);
  errno = saved;
}

// Keeps each of the signals' inherited ignore, else installs the handler.
void handleUnlessIgnored(std::initializer_list<int> signals, void (*handler)(int),
                         int flags = SA_RESTART) {
  for (int s : signals)
    if (!ignoredAtStart(s)) handle(s, handler, flags);
}

// A stack for the fatal-signal handler of the main thread, so that even a
// stack overflow still puts the terminal back.
alignas(16) char gAlternateStack[64 * 1024];

}  // namespace

void exitNow(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  restoreTerminal();
  _exit(code);
}

void openMissingStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is fd itself: the ones below it are open.
    const int opened =
        retryOnInterrupt([fd] { return ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY); });
    if (opened != fd && opened >= 0) ::close(opened);
  }
}

void installTerminalSafeSignals() {
  stack_t stack{};
  stack.ss_sp = gAlternateStack;
  stack.ss_size = sizeof gAlternateStack;
  sigaltstack(&stack, nullptr);
  const int once = SA_RESETHAND | SA_NODEFER | SA_ONSTACK;
  for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) handle(s, onFatalSignal, once);
  // SIGQUIT (Ctrl+\) asks for a core dump, like a crash; a background job
  // of a shell without job control inherits it ignored, and keeps that.
  handleUnlessIgnored({SIGQUIT}, onFatalSignal, once);
  std::set_terminate(onTerminate);
  handleUnlessIgnored({SIGINT, SIGTERM, SIGHUP}, onFatalSignal);
  handleUnlessIgnored({SIGTSTP}, onTerminalStop);
  handle(SIGCONT, onContinue);
  handle(SIGPIPE, SIG_IGN);
  handle(SIGTTOU, SIG_IGN);
}

void installStopSignals(std::atomic<bool>* endAtOnce) {
  gEndAtOnce.store(endAtOnce, std::memory_order_relaxed);
  handleUnlessIgnored({SIGINT, SIGTERM, SIGHUP}, onStopSignal);
}

bool stopSignalPending() { return gStopSignals.load(std::memory_order_relaxed) != 0; }

std::vector<std::string> commandLineWords(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace vorta
