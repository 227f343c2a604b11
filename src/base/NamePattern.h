// Split-file names from a pattern of the user's (--name), and reading a name
// back through the pattern.
//
// Pure: any thread. A pattern is text with strftime conversions; only those
// whose output is a fixed number of digits are taken: %Y (4), %y %m %d %H %M
// %S (2), %u %w (1), %z (the UTC offset: a sign and 4 digits, +0100), %F
// (%Y-%m-%d) and %% (a '%'). So every name a pattern
// gives reads back through it, and a name that reads back is one the pattern
// can give: old files are recognised by their names alone, and a file of any
// other shape is never mistaken for one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"

namespace vorta {

// Whether the pattern can name files: not empty, only the conversions above,
// relative (no leading separator), no empty, "." or ".." folder part.
bool isValidNamePattern(std::string_view pattern);

// The name the pattern gives for a local time (pattern valid).
std::string formatNamePattern(std::string_view pattern, const LocalTime& time);

// Whether `name` is one the pattern can give: the literal text in its place
// and each conversion's digits, of its width, within its range.
bool matchesNamePattern(std::string_view pattern, std::string_view name);

// The pattern's parts between directory separators: the folder levels, then
// the file name.
std::vector<std::string> namePatternParts(std::string_view pattern);

}  // namespace vorta
