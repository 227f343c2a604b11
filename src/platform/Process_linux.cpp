#include "platform/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <cstring>
#include <initializer_list>
#include <utility>

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

long currentProcessId() { return static_cast<long>(::getpid()); }

namespace {

// vorta's environment without the names `extra` sets, then `extra`.
std::vector<std::string> childEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> all;
  for (char** e = environ; e && *e; ++e) {
    const std::string_view entry(*e);
    const std::string_view name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || x.starts_with(name);
    if (!replaced) all.emplace_back(entry);
  }
  all.insert(all.end(), extra.begin(), extra.end());
  return all;
}

}  // namespace

// posix_spawn rather than fork: the process has threads, and only
// async-signal-safe calls may follow a fork in a threaded process.
Result<ShellCommand> ShellCommand::start(const std::string& command,
                                         const std::vector<std::string>& environment) {
  const std::vector<std::string> env = childEnvironment(environment);
  std::vector<char*> envp;
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (const int signal : {SIGPIPE, SIGTTOU}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                            POSIX_SPAWN_SETPGROUP);
  pid_t pid = -1;
  const int failed = ::posix_spawn(&pid, argv[0], &files, &attributes,
                                   const_cast<char* const*>(argv), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&files);
  if (failed != 0) return Error{ErrorKind::Failed, failed, std::strerror(failed)};
  return ShellCommand(pid);
}

ShellCommand::ShellCommand(ShellCommand&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), exitCode_(other.exitCode_) {}

ShellCommand& ShellCommand::operator=(ShellCommand&& other) noexcept {
  handle_ = std::exchange(other.handle_, -1);
  exitCode_ = other.exitCode_;
  return *this;
}

// A child still running is left alone; init reaps it once vorta has ended.
ShellCommand::~ShellCommand() = default;

std::optional<int> ShellCommand::poll() {
  if (exitCode_ || handle_ < 0) return exitCode_;
  int status = 0;
  const pid_t done =
      retryOnInterrupt([&] { return ::waitpid(static_cast<pid_t>(handle_), &status, WNOHANG); });
  if (done == 0) return std::nullopt;
  if (done < 0) exitCode_ = 127;  // not ours any more: nothing to wait for
  else if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
  else exitCode_ = 128 + WTERMSIG(status);
  return exitCode_;
}

std::size_t openHandleCount() {
  DIR* folder = ::opendir("/proc/self/fd");
  if (!folder) return 0;
  std::size_t count = 0;
  while (const dirent* entry = ::readdir(folder))
    if (entry->d_name[0] != '.') ++count;
  ::closedir(folder);
  return count;
}

}  // namespace vorta
