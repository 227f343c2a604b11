#include "platform/TextEncoding.h"

#include <windows.h>

#include "platform/Wide_win32.h"

namespace vorta {

// Texts go to a console in its output code page (866 on a Russian console,
// 1251 when set so); redirected output and a UTF-8 console get UTF-8 as it is.
std::string toConsoleCodeset(const std::string& utf8) {
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) return utf8;
  const UINT codePage = GetConsoleOutputCP();
  if (codePage == 0 || codePage == CP_UTF8) return utf8;
  const std::wstring wide = toWide(utf8);
  if (wide.empty()) return utf8;
  const int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  if (n <= 0) return utf8;
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

}  // namespace vorta
