// The program's texts for a log rather than a terminal (--log: a journal, a
// pipe, a file). On a terminal the messages step past the status line with
// carriage returns and stand between blank lines; in a log each message is
// whole lines: no carriage returns, no blank lines, no trailing blanks, and a
// line feed at its end even when the terminal text leaves the line open (the
// next message would otherwise be glued to it).
//
// Pure functions: any thread may call them.
#pragma once

#include <string>
#include <string_view>

namespace vorta {

std::string toLogLines(std::string_view text);

}  // namespace vorta
