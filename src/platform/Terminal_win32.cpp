#include "platform/Terminal.h"

#include <windows.h>

#include <cstdio>

#include <atomic>
#include <cstring>

// Keys come from the console input buffer (CONIN$), never standard input,
// which may be redirected. While a session lives the console delivers single
// key presses without echo; Ctrl+C still reaches the control handler.
namespace vorta {
namespace {

struct SavedConsole {
  HANDLE input;
  DWORD mode;
};
static_assert(sizeof(SavedConsole) <= 64, "savedState_ must hold the saved console");

// The one console input a live KeyboardSession has changed, for
// restoreTerminal() from the control handler's thread or a fatal exit. The
// handle is published with release after the saved mode is complete and read
// with acquire.
std::atomic<HANDLE> gChangedInput{nullptr};
DWORD gSavedModeForRestore = 0;

// The key a console record stands for, or kKeyNone for records that are no
// key press (key releases, mouse, focus and size events, lone shift keys).
int keyOf(const INPUT_RECORD& record) {
  if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return kKeyNone;
  const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
  if (key.wVirtualKeyCode == VK_ESCAPE) return kKeyEscape;
  if (key.wVirtualKeyCode == VK_RETURN) return kKeyEnter;
  switch (key.wVirtualKeyCode) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_CAPITAL: case VK_NUMLOCK:
      return kKeyNone;
  }
  // Arrow and function keys carry no character: a key, but not ESC.
  const wchar_t c = key.uChar.UnicodeChar;
  return c < 128 ? static_cast<int>(c) : 0;
}

HANDLE inputOf(const unsigned char* saved) {
  SavedConsole s{};
  std::memcpy(&s, saved, sizeof s);
  return s.input;
}

}  // namespace

bool isStdoutTerminal() {
  return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
}

int terminalRows() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    if (rows > 0) return rows;
  }
  return 24;
}

void writeRawStderr(const char* bytes, std::size_t length) {
  std::fflush(stdout);  // what the program printed before stays before this
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(err, bytes, static_cast<DWORD>(length), &written, nullptr) || written == 0)
      return;  // the status line is best effort
    bytes += written;
    length -= written;
  }
}

KeyboardSession::KeyboardSession() {
  const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) {
    CloseHandle(input);
    return;
  }
  const SavedConsole saved{input, mode};
  std::memcpy(savedState_, &saved, sizeof saved);
  saved_ = true;
  fd_ = 0;
  gSavedModeForRestore = mode;
  gChangedInput.store(input, std::memory_order_release);
  SetConsoleMode(input, (mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) |
                            ENABLE_PROCESSED_INPUT);
}

KeyboardSession::~KeyboardSession() {
  if (fd_ < 0) return;
  SavedConsole saved{};
  std::memcpy(&saved, savedState_, sizeof saved);
  SetConsoleMode(saved.input, saved.mode);
  gChangedInput.store(nullptr, std::memory_order_release);
  CloseHandle(saved.input);
}

bool KeyboardSession::keyWaiting() {
  if (fd_ < 0) return false;
  const HANDLE input = inputOf(savedState_);
  for (;;) {
    INPUT_RECORD record{};
    DWORD count = 0;
    if (!PeekConsoleInputW(input, &record, 1, &count) || count == 0) return false;
    if (keyOf(record) != kKeyNone) return true;
    ReadConsoleInputW(input, &record, 1, &count);  // not a key press: drop it
  }
}

int KeyboardSession::readKey(int timeoutMs) {
  if (fd_ < 0) return kKeyNone;
  const HANDLE input = inputOf(savedState_);
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    DWORD wait = INFINITE;
    if (timeoutMs >= 0) {
      const ULONGLONG now = GetTickCount64();
      wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    }
    if (WaitForSingleObject(input, wait) != WAIT_OBJECT_0) return kKeyNone;
    INPUT_RECORD record{};
    DWORD count = 0;
    if (!ReadConsoleInputW(input, &record, 1, &count)) return kKeyNone;
    if (count == 1) {
      const int key = keyOf(record);
      if (key != kKeyNone) return key;
    }
  }
}

void restoreTerminal() {
  const HANDLE input = gChangedInput.load(std::memory_order_acquire);
  if (input) SetConsoleMode(input, gSavedModeForRestore);
}

// The console has no job control: nothing stops or continues the program.
void suspendKeyboardMode() {}
void resumeKeyboardMode() {}

}  // namespace vorta
