// The console: is standard output a terminal, how many rows it has, keys from
// the controlling terminal, the raw status-line write, and putting the
// terminal back as it was.
//
// Contract: isStdoutTerminal and terminalRows may be called from any thread;
// writeRawStderr from the one thread that writes the console at the time.
// KeyboardSession is used on the main thread only (help paging, the Enter
// prompt, ESC while recording), one at a time. Keys come from /dev/tty, never
// standard input, which may be redirected.
//
// The keyboard mode (non-canonical, no echo, no XON/XOFF flow control, so
// Ctrl+S cannot freeze the output) is set only while the program is the
// terminal's foreground job: a background job (`vorta rec &`) neither reads
// keys nor touches the terminal's settings. Ctrl+Z gives the settings back
// before the process stops (suspendKeyboardMode, from the SIGTSTP handler);
// SIGCONT takes the mode again when the job is in the foreground
// (resumeKeyboardMode). A session's destructor, restoreTerminal() on a fatal
// exit and the signal handlers restore the settings the session found.
// Without a controlling terminal (a service, cron) a session is inert: no key
// ever arrives and nothing blocks.
#pragma once

#include <cstddef>

namespace vorta {

bool isStdoutTerminal();

// Rows of the terminal on standard output; 24 when they cannot be read.
int terminalRows();

// Writes the bytes straight to file descriptor 2, unbuffered (status line),
// after flushing standard output so the two streams keep their order when
// they go to one file.
void writeRawStderr(const char* bytes, std::size_t length);

// Key codes returned by readKey.
constexpr int kKeyNone = -1;    // no key, or no terminal to read from
constexpr int kKeyEnter = 13;   // Enter (the terminal's CR or LF)
constexpr int kKeyEscape = 27;  // ESC pressed on its own, not an escape sequence

class KeyboardSession {
 public:
  KeyboardSession();   // opens /dev/tty; keyboard mode while in the foreground
  ~KeyboardSession();  // restores the settings it found
  KeyboardSession(const KeyboardSession&) = delete;
  KeyboardSession& operator=(const KeyboardSession&) = delete;

  bool available() const { return fd_ >= 0; }
  // Whether a key is waiting, without blocking. False in the background.
  bool keyWaiting();
  // Reads one key: timeoutMs 0 does not wait, -1 waits until a key comes
  // (on through Ctrl+Z and fg). kKeyNone on time-out, in the background,
  // with no terminal, when the terminal is gone or a signal other than
  // SIGCONT interrupted the wait.
  int readKey(int timeoutMs);

 private:
  int fd_ = -1;  // -1: no terminal
  // The settings found, for a system whose handler keeps them per session
  // (the Windows console); the Linux one keeps them for its signal handlers.
  [[maybe_unused]] bool saved_ = false;
  [[maybe_unused]] unsigned char savedState_[64] = {};
};

// Signal handlers and fatal exits; async-signal-safe.
void restoreTerminal();
void suspendKeyboardMode();
void resumeKeyboardMode();

}  // namespace vorta
