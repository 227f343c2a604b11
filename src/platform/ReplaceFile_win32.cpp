#include "platform/ReplaceFile.h"

#include <windows.h>

#include "platform/Wide_win32.h"

namespace vorta {
namespace {

Error lastError() {
  const DWORD code = GetLastError();
  const bool full = code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL;
  return Error{full ? ErrorKind::DiskFull : ErrorKind::Failed, static_cast<int>(code),
               systemErrorText(code)};
}

}  // namespace

Status replaceFileWhole(const std::string& path, std::string_view bytes) {
  const std::wstring temporary = toWide(path + ".tmp");
  const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lastError();
  Status written;
  while (written.ok() && !bytes.empty()) {
    DWORD n = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr))
      written = lastError();
    bytes.remove_prefix(n);
  }
  if (written.ok() && !FlushFileBuffers(file)) written = lastError();
  CloseHandle(file);
  if (written.ok() &&
      !MoveFileExW(temporary.c_str(), toWide(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    written = lastError();
  if (!written.ok()) DeleteFileW(temporary.c_str());
  return written;
}

}  // namespace vorta
