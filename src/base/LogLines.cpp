#include "base/LogLines.h"

namespace vorta {

std::string toLogLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 1);
  std::string line;
  auto endLine = [&] {
    const std::size_t last = line.find_last_not_of(' ');
    if (last != std::string::npos) out.append(line, 0, last + 1).push_back('\n');
    line.clear();
  };
  for (const char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      endLine();
    } else {
      line.push_back(c);
    }
  }
  endLine();
  return out;
}

}  // namespace vorta
