// The console: is standard output a terminal, how many rows it has, keys from
// the controlling terminal, the raw status-line write, and putting the
// terminal back as it was.
//
// Contract: isStdoutTerminal and screenRows may be called from any thread.
// KeyboardSession is used on the main thread only (help paging, the Enter
// prompt, ESC while recording). Keys come from /dev/tty, never standard input,
// which may be redirected. While a session lives the terminal is in
// non-canonical, no-echo mode; its destructor restores the settings it found,
// and restoreTerminal() does the same from a fatal exit or a signal handler.
// Without a controlling terminal (a service, cron) a session is inert: no key
// ever arrives and nothing blocks.
#pragma once

#include <cstddef>

namespace vorta {

bool isStdoutTerminal();

// Rows of the terminal on standard output; 24 when they cannot be read.
int terminalRows();

// Writes the bytes straight to file descriptor 2, unbuffered (status line).
void writeRawStderr(const char* bytes, std::size_t length);

// Key codes returned by readKey.
constexpr int kKeyNone = -1;    // no key, or no terminal to read from
constexpr int kKeyEnter = 13;   // Enter (the terminal's CR or LF)
constexpr int kKeyEscape = 27;  // ESC pressed on its own, not an escape sequence

class KeyboardSession {
 public:
  KeyboardSession();   // opens /dev/tty and switches it to raw keys
  ~KeyboardSession();  // restores the settings it found
  KeyboardSession(const KeyboardSession&) = delete;
  KeyboardSession& operator=(const KeyboardSession&) = delete;

  bool available() const { return fd_ >= 0; }
  // Whether a key is waiting, without blocking.
  bool keyWaiting();
  // Reads one key. Waits at most timeoutMs (-1: until a key comes). Returns
  // kKeyNone on time-out, with no terminal, or when the terminal is gone.
  int readKey(int timeoutMs);

 private:
  int fd_ = -1;
  bool saved_ = false;
  unsigned char savedState_[64] = {};  // the termios found at open
};

// Restores every terminal a live KeyboardSession has changed. Safe to call
// from a signal handler and before _exit.
void restoreTerminal();

}  // namespace vorta
