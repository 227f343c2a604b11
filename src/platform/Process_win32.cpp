#include "platform/Process.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <utility>

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

long currentProcessId() { return static_cast<long>(GetCurrentProcessId()); }

namespace {

// vorta's environment without the names `extra` sets, then `extra`, as the
// block CreateProcessW takes: "NAME=value" strings, each ended by a null,
// and one more null at the end.
std::wstring environmentBlock(const std::vector<std::string>& extra) {
  std::wstring block;
  wchar_t* own = GetEnvironmentStringsW();
  for (const wchar_t* e = own; e && *e; e += std::wcslen(e) + 1) {
    const std::string entry = fromWide(e);
    const std::string name = entry.substr(0, entry.find('=', 1) + 1);  // "=C:" entries keep theirs
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || _strnicmp(x.c_str(), name.c_str(), name.size()) == 0;
    if (!replaced) block += std::wstring(e) + L'\0';
  }
  if (own) FreeEnvironmentStringsW(own);
  for (const std::string& x : extra) block += toWide(x) + L'\0';
  return block + L'\0';
}

}  // namespace

Result<ShellCommand> ShellCommand::start(const std::string& command,
                                         const std::vector<std::string>& environment) {
  std::wstring line = L"cmd /c " + toWide(command);
  std::wstring env = environmentBlock(environment);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE null = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null;
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child{};
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                      CREATE_UNICODE_ENVIRONMENT, env.data(), nullptr, &startup, &child);
  const DWORD code = started ? 0 : GetLastError();
  if (null != INVALID_HANDLE_VALUE) CloseHandle(null);
  if (!started) return Error{ErrorKind::Failed, static_cast<int>(code), systemErrorText(code)};
  CloseHandle(child.hThread);
  return ShellCommand(reinterpret_cast<std::intptr_t>(child.hProcess));
}

ShellCommand::ShellCommand(ShellCommand&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), exitCode_(other.exitCode_) {}

ShellCommand& ShellCommand::operator=(ShellCommand&& other) noexcept {
  std::swap(handle_, other.handle_);
  exitCode_ = other.exitCode_;
  return *this;
}

// Closing the handle leaves a running command running.
ShellCommand::~ShellCommand() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::optional<int> ShellCommand::poll() {
  if (exitCode_ || handle_ == -1) return exitCode_;
  const HANDLE process = reinterpret_cast<HANDLE>(handle_);
  if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) return std::nullopt;
  DWORD code = 0;
  exitCode_ = GetExitCodeProcess(process, &code) ? static_cast<int>(code) : 127;
  return exitCode_;
}

std::size_t openHandleCount() {
  DWORD count = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &count) ? count : 0;
}

}  // namespace vorta
