// UTF-8 <-> UTF-16 for the Win32 implementation files (and only them): the
// program keeps every name and text in UTF-8; the system's wide calls take
// and give UTF-16.
#pragma once

#include <windows.h>

#include <string>

namespace vorta {

inline std::wstring toWide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

inline std::string fromWide(const wchar_t* wide, int length = -1) {
  if (length < 0) length = static_cast<int>(std::wcslen(wide));
  if (length == 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, length, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

// The system's own text for a GetLastError() code, without the line break
// FormatMessage ends it with.
inline std::string systemErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (n == 0 || !text) return "error " + std::to_string(code);
  std::string utf8 = fromWide(text, static_cast<int>(n));
  LocalFree(text);
  while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ' ||
                           utf8.back() == '.'))
    utf8.pop_back();
  return utf8;
}

}  // namespace vorta
