// Console codeset for texts kept in UTF-8.
//
// Contract: main thread, while the language is chosen. Returns the text in the
// codeset of the user's locale when that is an 8-bit Cyrillic one (CP866,
// KOI8-R, CP1251, ISO-8859-5); otherwise (UTF-8, the C locale, anything
// else) returns it unchanged.
#pragma once

#include <string>

namespace vorta {

std::string toConsoleCodeset(const std::string& utf8);

}  // namespace vorta
