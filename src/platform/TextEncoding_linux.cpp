#include "platform/TextEncoding.h"

#include <iconv.h>
#include <langinfo.h>

#include <clocale>
#include <cstring>
#include <strings.h>

namespace vorta {
namespace {

// The iconv name of the locale's codeset when it is an 8-bit Cyrillic one,
// or nullptr. Looked up once.
const char* cyrillicCodeset() {
  static const char* const codeset = [] {
    std::setlocale(LC_CTYPE, "");
    const char* name = nl_langinfo(CODESET);
    const char* const known[][2] = {
        {"CP866", "CP866"},       {"IBM866", "CP866"},       {"KOI8-R", "KOI8-R"},
        {"CP1251", "CP1251"},     {"WINDOWS-1251", "CP1251"}, {"ISO-8859-5", "ISO-8859-5"},
        {"ISO8859-5", "ISO-8859-5"}};
    const char* found = nullptr;
    for (const auto& k : known)
      if (name && strcasecmp(name, k[0]) == 0) found = k[1];
    // Keep the C library's own conversions in the "C" locale: only the
    // codeset was wanted.
    std::setlocale(LC_CTYPE, "C");
    return found;
  }();
  return codeset;
}

}  // namespace

std::string toConsoleCodeset(const std::string& utf8) {
  const char* target = cyrillicCodeset();
  if (!target) return utf8;
  iconv_t cd = iconv_open(target, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
  std::string out(utf8.size(), '\0');  // 8-bit output is never longer
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* dst = out.data();
  std::size_t outLeft = out.size();
  const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) return utf8;
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace vorta
