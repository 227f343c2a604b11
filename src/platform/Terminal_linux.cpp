#include "platform/Terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/Syscall.h"

namespace vorta {
namespace {

// The terminal of the live KeyboardSession, shared with the signal handlers.
// The session's constructor fills gSaved and gKeyboard, then publishes the
// descriptor with release; readers acquire it before touching the two. The
// descriptor is withdrawn before the session restores and closes it.
std::atomic<int> gFd{-1};
termios gSaved{};
termios gKeyboard{};
// Whether the keyboard mode is in force. Exchanged, so the settings found
// are written back once however many ways out race (main thread, handler).
std::atomic<bool> gApplied{false};
// Raised by each SIGCONT: a wait interrupted by it goes on waiting.
std::atomic<unsigned> gContinued{0};

enum class Keys { Ours, Background, Gone };

// Sets the keyboard mode when the process is the foreground job. SIGTTOU is
// ignored, so even a job sent to the background a moment ago cannot stop
// here.
Keys holdKeyboard(int fd) {
  const pid_t foreground = tcgetpgrp(fd);
  if (foreground < 0) return Keys::Gone;  // hung up
  if (foreground != getpgrp()) return Keys::Background;
  if (!gApplied.exchange(true)) tcsetattr(fd, TCSANOW, &gKeyboard);
  return Keys::Ours;
}

void giveBack(int fd) {
  if (gApplied.exchange(false)) tcsetattr(fd, TCSANOW, &gSaved);
}

}  // namespace

bool isStdoutTerminal() { return isatty(STDOUT_FILENO) == 1; }

int terminalRows() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
  return 24;
}

void writeRawStderr(const char* bytes, std::size_t length) {
  std::fflush(stdout);
  while (length > 0) {
    const ssize_t n = retryOnInterrupt([&] { return ::write(STDERR_FILENO, bytes, length); });
    if (n <= 0) return;  // the status line is best effort
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
}

KeyboardSession::KeyboardSession() {
  fd_ = retryOnInterrupt([] { return ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC); });
  if (fd_ < 0) return;
  if (tcgetattr(fd_, &gSaved) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  gKeyboard = gSaved;
  gKeyboard.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  gKeyboard.c_iflag &= static_cast<tcflag_t>(~IXON);
  gKeyboard.c_cc[VMIN] = 1;
  gKeyboard.c_cc[VTIME] = 0;
  gFd.store(fd_, std::memory_order_release);
  holdKeyboard(fd_);
}

KeyboardSession::~KeyboardSession() {
  if (fd_ < 0) return;
  gFd.store(-1, std::memory_order_release);
  giveBack(fd_);
  ::close(fd_);
}

bool KeyboardSession::keyWaiting() {
  if (fd_ < 0 || holdKeyboard(fd_) != Keys::Ours) return false;
  pollfd p{fd_, POLLIN, 0};
  const int n = retryOnInterrupt([&] { return ::poll(&p, 1, 0); });
  if (n > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return false;
  return n > 0 && (p.revents & POLLIN);
}

int KeyboardSession::readKey(int timeoutMs) {
  if (fd_ < 0) return kKeyNone;
  pollfd p{fd_, POLLIN, 0};
  for (;;) {
    const unsigned continued = gContinued.load(std::memory_order_relaxed);
    // In the background no key is ours: a prompt there does not wait.
    if (holdKeyboard(fd_) != Keys::Ours) return kKeyNone;
    const int n = ::poll(&p, 1, timeoutMs);
    if (n < 0 && errno == EINTR && gContinued.load(std::memory_order_relaxed) != continued)
      continue;
    if (n <= 0 || !(p.revents & POLLIN)) return kKeyNone;
    break;
  }
  unsigned char key = 0;
  if (::read(fd_, &key, 1) != 1) return kKeyNone;
  if (key == '\r' || key == '\n') return kKeyEnter;
  if (key != 27) return key;
  // An escape sequence (arrow keys, function keys) arrives as ESC followed
  // at once by more bytes; swallow it so it is not taken for ESC.
  pollfd more{fd_, POLLIN, 0};
  if (::poll(&more, 1, 30) <= 0 || !(more.revents & POLLIN)) return kKeyEscape;
  unsigned char rest[32];
  while (::poll(&more, 1, 5) > 0 && (more.revents & POLLIN))
    if (::read(fd_, rest, sizeof rest) <= 0) break;
  return 0;
}

void restoreTerminal() {
  const int fd = gFd.load(std::memory_order_acquire);
  if (fd >= 0) giveBack(fd);
}

void suspendKeyboardMode() { restoreTerminal(); }

void resumeKeyboardMode() {
  gContinued.fetch_add(1, std::memory_order_relaxed);
  const int fd = gFd.load(std::memory_order_acquire);
  if (fd >= 0) holdKeyboard(fd);
}

}  // namespace vorta
