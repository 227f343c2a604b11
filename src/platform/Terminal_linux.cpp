#include "platform/Terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/Syscall.h"

namespace vorta {
namespace {

static_assert(sizeof(termios) <= 64, "savedState_ must hold a termios");

// The one terminal a live KeyboardSession has changed, for restoreTerminal()
// from a signal handler or a fatal exit. Sessions live on the main thread;
// the handler may run on any thread, so the descriptor is published with
// release after the saved settings are complete and read with acquire.
std::atomic<int> gChangedFd{-1};
termios gSavedForRestore{};

}  // namespace

bool isStdoutTerminal() { return isatty(STDOUT_FILENO) == 1; }

int terminalRows() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
  return 24;
}

void writeRawStderr(const char* bytes, std::size_t length) {
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
  termios state{};
  if (tcgetattr(fd_, &state) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  std::memcpy(savedState_, &state, sizeof state);
  saved_ = true;
  gSavedForRestore = state;
  gChangedFd.store(fd_, std::memory_order_release);

  termios raw = state;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(fd_, TCSANOW, &raw);
}

KeyboardSession::~KeyboardSession() {
  if (fd_ < 0) return;
  if (saved_) {
    termios state{};
    std::memcpy(&state, savedState_, sizeof state);
    tcsetattr(fd_, TCSANOW, &state);
  }
  gChangedFd.store(-1, std::memory_order_release);
  ::close(fd_);
}

bool KeyboardSession::keyWaiting() {
  if (fd_ < 0) return false;
  pollfd p{fd_, POLLIN, 0};
  const int n = retryOnInterrupt([&] { return ::poll(&p, 1, 0); });
  if (n > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return false;
  return n > 0 && (p.revents & POLLIN);
}

int KeyboardSession::readKey(int timeoutMs) {
  if (fd_ < 0) return kKeyNone;
  pollfd p{fd_, POLLIN, 0};
  const int n = ::poll(&p, 1, timeoutMs);
  if (n <= 0 || !(p.revents & POLLIN)) return kKeyNone;
  unsigned char key = 0;
  if (::read(fd_, &key, 1) != 1) return kKeyNone;
  if (key == '\r' || key == '\n') return kKeyEnter;
  if (key == 27) {
    // An escape sequence (arrow keys, function keys) arrives as ESC followed
    // at once by more bytes; swallow it so it is not taken for ESC.
    pollfd more{fd_, POLLIN, 0};
    if (::poll(&more, 1, 30) > 0 && (more.revents & POLLIN)) {
      unsigned char rest[32];
      while (::poll(&more, 1, 5) > 0 && (more.revents & POLLIN))
        if (::read(fd_, rest, sizeof rest) <= 0) break;
      return 0;
    }
    return kKeyEscape;
  }
  return key;
}

void restoreTerminal() {
  const int fd = gChangedFd.load(std::memory_order_acquire);
  if (fd >= 0) tcsetattr(fd, TCSANOW, &gSavedForRestore);
}

}  // namespace vorta
